// SPDX-License-Identifier: GPL-3.0-or-later
// The device remover's services on Linux: the driver's registry settings from a registry
// export file, USB devices from sysfs, and the restart through systemd-logind.
#pragma once

#include <memory>
#include <string>

#include "DevPurgePlatform.h"

class CLinuxPlatform : public IDevPurgePlatform {
  public:
    struct Config {
        std::string registryFile = "/etc/tevrix/lorvex.reg";  // DEVPURGE_REGISTRY
        std::string sysfsRoot = "/sys";                       // DEVPURGE_SYSFS
        // DEVPURGE_REBOOT_COMMAND: when set, run instead of asking systemd-logind.
        bool useRebootCommand = false;
        std::string rebootCommand;
    };

    // The defaults, overridden by the environment variables that are set (also when empty:
    // an empty path finds nothing and an empty command restarts nothing).
    static Config ConfigFromEnvironment();

    explicit CLinuxPlatform(Config config) : m_config(std::move(config)) {}

    const Config& GetConfig() const { return m_config; }

    // The registry file is read afresh on every call, so each caller sees its current state.
    std::unique_ptr<IRegistryKey> OpenLocalMachineKey(const std::string& path) override;
    std::unique_ptr<IDeviceInfoSet> GetUsbDevices() override;
    // Runs the reboot command (split into words, started without a shell and without waiting),
    // or calls org.freedesktop.login1.Manager.Reboot on the system bus without interaction.
    void RestartSystem() override;

  private:
    Config m_config;
};
