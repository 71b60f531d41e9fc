// SPDX-License-Identifier: GPL-3.0-or-later
// The base of the fixtures that make control panels: a fresh program folder
// (so that the panels' default save folders are the test's own), and the
// services every panel of the test is made with. In a test of such a
// fixture, `TControlForm form;` names the panel made with `services`.
#pragma once

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "forms/frmControl.h"

class PanelTestBase : public ::testing::Test {
  protected:
    PanelTestBase() {
        services.ProgramFolder = TProgramFolder(programDir.path());
        s_current = this;
    }
    ~PanelTestBase() override { s_current = nullptr; }

    class TControlForm : public ::TControlForm {
      public:
        TControlForm() : ::TControlForm(nullptr, s_current->services) {}
    };

    QTemporaryDir programDir;
    TPanelServices services;  // a test or fixture may change them before a panel is made

  private:
    static inline PanelTestBase* s_current = nullptr;
};
