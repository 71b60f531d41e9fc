// SPDX-License-Identifier: GPL-3.0-or-later
// The device remover's application object: its command-line switches and its one pass.
#pragma once

#include <string>

#include "DevPurgePlatform.h"

class CDevPurgeApp {
  public:
    // Switch flags.
    static constexpr unsigned kRebootOnly = 1u << 0;  // "REBOOTONLY": restart at once, nothing else
    static constexpr unsigned kNoReboot = 1u << 1;    // "NOREBOOT": remove without the window

    explicit CDevPurgeApp(IDevPurgePlatform& platform) : m_platform(platform) {}

    // Sets the switch flags from the text after the program's name: whole words (split at
    // spaces, tabs and line feeds) compared without regard to case. Other words are ignored.
    void ParseCommandLine(const std::string& commandLine);

    unsigned Flags() const { return m_flags; }
    bool IsRebootOnly() const { return (m_flags & kRebootOnly) != 0; }
    bool IsNoReboot() const { return (m_flags & kNoReboot) != 0; }

    // Whether the pass shows the dialog, so the program needs a window system.
    bool ShowsDialog() const { return !IsRebootOnly() && !IsNoReboot(); }

    // Runs the pass for the parsed switches: restart only; or remove the camera's devices and,
    // unless "NOREBOOT" was given, show the dialog modally until it is closed. Returns the
    // program's exit code.
    int InitInstance();

  private:
    IDevPurgePlatform& m_platform;
    unsigned m_flags = 0;
};

// The command line after the program's name, as one text: the arguments joined by spaces.
std::string JoinArguments(int argc, const char* const* argv);
