// SPDX-License-Identifier: GPL-3.0-or-later
// What screen readers are told about the program's two windows. Both are
// frames (not bare panes), named apart: the control panel by its title, the
// preview window by its accessible name. Their skins' pieces are left out:
// the preview's frame pictures, the panel's background, shape and the
// captions under the strip's boxes (the boxes carry those names). The panel
// holds, in the order Tab visits them, its buttons, the strip as a list
// (TAccessibleList) and its two menus, which the settings and mail buttons
// open.
#pragma once

// Registers the windows' interfaces with Qt's accessibility, once per
// process; the windows' set-up calls it.
void InstallFormAccessibility();
