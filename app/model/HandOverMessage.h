#pragma once
// The message a later start hands to the running instance: the files' paths
// as their bytes, each ended by a NUL byte, then one more NUL. Bounded in
// bytes and in files: a path object costs 150 to 300 bytes however short its
// text, so 65536 files hold at most about 20 MB. A longer list stays with the
// start that named it, which shows it in a window of its own.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr std::size_t kHandOverMaximumBytes = std::size_t(8) << 20;
constexpr std::size_t kHandOverMaximumFiles = std::size_t(1) << 16;

// The message for these files, relative ones made absolute against `here`;
// empty paths and paths holding a NUL are left out. None when it would pass
// either bound.
std::optional<std::string> MakeHandOverMessage(const std::vector<std::filesystem::path>& files,
                                               const std::filesystem::path& here);

// Reads one message as its bytes arrive: every byte is looked at once, so a
// message sent in many small pieces costs no more than one sent whole.
class HandOverMessageReader {
public:
    enum class State { Incomplete, Complete, Refused };

    // Takes the next bytes. Refused (for good) past a bound or when bytes
    // follow the end of the message.
    State append(std::string_view bytes);
    State state() const { return state_; }
    // The absolute paths of a complete message, in the order sent; relative
    // ones are dropped (the sender's folder is not ours).
    std::vector<std::filesystem::path> takeFiles();

private:
    State refuse();

    State state_ = State::Incomplete;
    std::size_t received_ = 0;
    std::string pending_;  // the path being received
    std::size_t pathCount_ = 0;
    std::vector<std::filesystem::path> files_;
};
