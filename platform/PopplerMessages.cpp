#include "platform/PopplerMessages.h"

#include <Error.h>
#include <poppler/cpp/poppler-global.h>

#include <mutex>
#include <string>

namespace plat {

void SilencePopplerMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        // poppler's C++ front end installs its own handler when it first
        // opens a document; its decoders used on their own report to the
        // core handler. Both stay quiet.
        poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
        setErrorCallback([](ErrorCategory, Goffset, const char*) {});
    });
}

}  // namespace plat
