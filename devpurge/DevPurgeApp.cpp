// SPDX-License-Identifier: GPL-3.0-or-later
#include "DevPurgeApp.h"

#include "DevPurgeDlg.h"
#include "DevPurgeLogic.h"

namespace {

// ASCII comparison without regard to case, independent of the current locale.
bool EqualsIgnoringCase(const std::string& word, const char* keyword) {
    std::size_t i = 0;
    for (; i < word.size() && keyword[i] != '\0'; ++i) {
        char a = word[i];
        char b = keyword[i];
        if (a >= 'a' && a <= 'z') {
            a = static_cast<char>(a - 'a' + 'A');
        }
        if (b >= 'a' && b <= 'z') {
            b = static_cast<char>(b - 'a' + 'A');
        }
        if (a != b) {
            return false;
        }
    }
    return i == word.size() && keyword[i] == '\0';
}

}  // namespace

void CDevPurgeApp::ParseCommandLine(const std::string& commandLine) {
    const char* const separators = " \t\n";
    std::size_t pos = 0;
    while (pos < commandLine.size()) {
        const std::size_t start = commandLine.find_first_not_of(separators, pos);
        if (start == std::string::npos) {
            break;
        }
        std::size_t end = commandLine.find_first_of(separators, start);
        if (end == std::string::npos) {
            end = commandLine.size();
        }
        const std::string word = commandLine.substr(start, end - start);
        if (EqualsIgnoringCase(word, "REBOOTONLY")) {
            m_flags |= kRebootOnly;
        } else if (EqualsIgnoringCase(word, "NOREBOOT")) {
            m_flags |= kNoReboot;
        }
        pos = end;
    }
}

int CDevPurgeApp::InitInstance() {
    if (IsRebootOnly()) {
        RebootSystem(m_platform);
        return 0;
    }
    RemoveCameraDevices(m_platform);
    if (!IsNoReboot()) {
        CDevPurgeDlg dialog(m_platform);
        dialog.exec();
    }
    return 0;
}

std::string JoinArguments(int argc, const char* const* argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            commandLine += ' ';
        }
        commandLine += argv[i];
    }
    return commandLine;
}
