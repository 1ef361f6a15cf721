#include "platform/PopplerMessages.h"

#include <Error.h>
#include <poppler/cpp/poppler-global.h>

#include <mutex>
#include <string>

namespace plat {

namespace {

thread_local std::uint64_t errorsOnThisThread = 0;

}  // namespace

std::uint64_t PopplerErrorsOnThisThread() { return errorsOnThisThread; }

void SilencePopplerMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        // poppler's C++ front end installs its own handler when it first
        // opens a document; its decoders used on their own report to the
        // core handler. Both stay quiet.
        // The front end hands the core's messages on without their kind
        // (and takes the core handler over whenever a first document opens
        // again), so a message that reaches it counts as an error.
        poppler::set_debug_error_function([](const std::string&, void*) { ++errorsOnThisThread; }, nullptr);
        setErrorCallback([](ErrorCategory category, Goffset, const char*) {
            if (category != errSyntaxWarning) ++errorsOnThisThread;
        });
    });
}

}  // namespace plat
