#pragma once

#include <string>

// What a file operation did: whether it happened, and a message for the user
// when there is something to say (a refusal, or a warning on success).
struct FileOutcome {
    bool done = false;
    std::string message;

    static FileOutcome ok(std::string note = {}) { return {true, std::move(note)}; }
    static FileOutcome refused(std::string why) { return {false, std::move(why)}; }
};
