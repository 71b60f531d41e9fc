// SPDX-License-Identifier: GPL-3.0-or-later
#include "LinuxPlatform.h"

#include <cstdlib>
#include <cstring>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "RegistryFile.h"
#include "SysfsDevices.h"

namespace {

// A key of the registry file. The file was opened with full access when the settings key
// was opened, so its subkeys open with full access too.
class CRegistryFileKey : public IRegistryKey {
  public:
    CRegistryFileKey(std::shared_ptr<const CRegistryFile> file, const CRegistryFile::Key* key)
        : m_file(std::move(file)), m_key(key) {}

    bool EnumSubKey(std::size_t index, std::string* name) override {
        if (index >= m_key->subKeys.size()) {
            return false;
        }
        *name = m_key->subKeys[index]->name;
        return true;
    }

    std::unique_ptr<IRegistryKey> OpenSubKey(const std::string& name) override {
        const CRegistryFile::Key* subKey = m_key->FindSubKey(name);
        if (subKey == nullptr) {
            return nullptr;
        }
        return std::make_unique<CRegistryFileKey>(m_file, subKey);
    }

    bool QueryValue(const std::string& name, void* data, std::size_t* size) override {
        const std::vector<unsigned char>* value = m_key->FindValue(name);
        if (value == nullptr || value->size() > *size) {
            return false;
        }
        if (!value->empty()) {
            std::memcpy(data, value->data(), value->size());
        }
        *size = value->size();
        return true;
    }

  private:
    std::shared_ptr<const CRegistryFile> m_file;
    const CRegistryFile::Key* m_key;
};

}  // namespace

CLinuxPlatform::Config CLinuxPlatform::ConfigFromEnvironment() {
    Config config;
    if (const char* registry = std::getenv("DEVPURGE_REGISTRY")) {
        config.registryFile = registry;
    }
    if (const char* sysfs = std::getenv("DEVPURGE_SYSFS")) {
        config.sysfsRoot = sysfs;
    }
    if (const char* command = std::getenv("DEVPURGE_REBOOT_COMMAND")) {
        config.useRebootCommand = true;
        config.rebootCommand = command;
    }
    return config;
}

std::unique_ptr<IRegistryKey> CLinuxPlatform::OpenLocalMachineKey(const std::string& path) {
    std::shared_ptr<const CRegistryFile> file =
        CRegistryFile::LoadWithFullAccess(m_config.registryFile);
    if (!file) {
        return nullptr;
    }
    const CRegistryFile::Key* key = file->FindKey("HKEY_LOCAL_MACHINE\\" + path);
    if (key == nullptr) {
        return nullptr;
    }
    return std::make_unique<CRegistryFileKey>(std::move(file), key);
}

std::unique_ptr<IDeviceInfoSet> CLinuxPlatform::GetUsbDevices() {
    return CSysfsDeviceSet::Open(m_config.sysfsRoot);
}

void CLinuxPlatform::RestartSystem() {
    if (m_config.useRebootCommand) {
        QStringList words = QProcess::splitCommand(QString::fromLocal8Bit(m_config.rebootCommand));
        if (words.isEmpty()) {
            return;
        }
        const QString program = words.takeFirst();
        QProcess::startDetached(program, words);
        return;
    }
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Reboot"));
    call << false;  // not interactive: no authentication prompt
    bus.call(call, QDBus::Block);
}
