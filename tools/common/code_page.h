// The code page the game asks in. The game client passes narrow names in the ANSI code page of the
// players' Windows (Windows-1252 for the game's audience), and the store keeps only the hash of
// those bytes. The tools see names in the host's encoding (UTF-8 on Linux, UTF-16 under Windows),
// so every name they hash, store or match is converted to the game's code page first; a name that
// has no form there is refused rather than stored under a key the game never asks for.
#pragma once

#include <filesystem>
#include <string>

namespace tools {

class GameCodePage {
public:
    // Windows-1252.
    GameCodePage() = default;
    // Reads "1252", "cp1252" or "windows-1252" (any letter case) for any code page this host can
    // convert to. False, with *why, for anything else.
    static bool parse(const std::string& text, GameCodePage* out, std::string* why);

    unsigned number() const { return number_; }
    std::string label() const { return "Windows-" + std::to_string(number_); }

    // The relative path `hostPath` (as the host's file functions give it) in the game's code page.
    // False when a character has no form there or the name is not valid in the host's encoding.
    bool fromHostPath(const std::filesystem::path& hostPath, std::string* out) const;
    // A name written as text by the operator (a line of a name list): UTF-8 on Linux, the ANSI code
    // page on Windows. False as above.
    bool fromHostText(const std::string& text, std::string* out) const;

private:
    unsigned number_ = 1252;
};

// The code page of this run of a tool: Windows-1252 unless an option chose another.
const GameCodePage& gameCodePage();
void setGameCodePage(const GameCodePage& page);

}  // namespace tools
