#include "app/model/HandOverMessage.h"

#include <cstring>

namespace fs = std::filesystem;

namespace {
constexpr char kEndOfPath = '\0';
}

std::optional<std::string> MakeHandOverMessage(const std::vector<fs::path>& files, const fs::path& here) {
    std::string message;
    std::size_t count = 0;
    for (const fs::path& file : files) {
        if (file.empty()) continue;
        const fs::path absolute = file.is_absolute() || here.empty() ? file : here / file;
        const std::string& native = absolute.native();
        // A path cannot hold a NUL byte; skip what would break the framing.
        if (native.find(kEndOfPath) != std::string::npos) continue;
        if (++count > kHandOverMaximumFiles || message.size() + native.size() + 2 > kHandOverMaximumBytes) {
            return std::nullopt;
        }
        message.append(native).push_back(kEndOfPath);
    }
    message.push_back(kEndOfPath);
    return message;
}

HandOverMessageReader::State HandOverMessageReader::refuse() {
    state_ = State::Refused;
    pending_ = {};
    files_ = {};
    return state_;
}

HandOverMessageReader::State HandOverMessageReader::append(std::string_view bytes) {
    if (state_ == State::Refused) return state_;
    if (bytes.empty()) return state_;
    // Nothing may follow the end of the message.
    if (state_ == State::Complete) return refuse();
    received_ += bytes.size();
    if (received_ > kHandOverMaximumBytes) return refuse();
    while (!bytes.empty()) {
        const void* found = std::memchr(bytes.data(), kEndOfPath, bytes.size());
        if (!found) {
            pending_.append(bytes);
            return state_;
        }
        const std::size_t end = std::size_t(static_cast<const char*>(found) - bytes.data());
        const bool endOfMessage = end == 0 && pending_.empty();
        pending_.append(bytes.substr(0, end));
        bytes.remove_prefix(end + 1);
        if (endOfMessage) {
            if (!bytes.empty()) return refuse();
            state_ = State::Complete;
            return state_;
        }
        if (++pathCount_ > kHandOverMaximumFiles) return refuse();
        fs::path file(std::move(pending_));
        pending_.clear();
        if (file.is_absolute()) files_.push_back(std::move(file));
    }
    return state_;
}

std::vector<fs::path> HandOverMessageReader::takeFiles() {
    return state_ == State::Complete ? std::move(files_) : std::vector<fs::path>{};
}
