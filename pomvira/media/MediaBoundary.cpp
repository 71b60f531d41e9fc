// SPDX-License-Identifier: GPL-3.0-or-later
#include "MediaBoundary.h"

#include <cstdio>
#include <cstdlib>

namespace media {

namespace {
IMediaSystem* g_system = nullptr;
}

std::string GuidToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

bool GuidFromString(const std::string& text, GUID& out) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return false;
    static const int dashes[] = {9, 14, 19, 24};
    uint8_t bytes[16];
    int n = 0;
    for (size_t i = 1; i < 37;) {
        if (i == size_t(dashes[0]) || i == size_t(dashes[1]) || i == size_t(dashes[2]) ||
            i == size_t(dashes[3])) {
            if (text[i] != '-')
                return false;
            ++i;
            continue;
        }
        auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            return -1;
        };
        int hi = hex(text[i]), lo = hex(text[i + 1]);
        if (hi < 0 || lo < 0 || n >= 16)
            return false;
        bytes[n++] = uint8_t(hi * 16 + lo);
        i += 2;
    }
    if (n != 16)
        return false;
    GUID g;
    g.Data1 =
        uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    g.Data2 = uint16_t(bytes[4] << 8 | bytes[5]);
    g.Data3 = uint16_t(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = bytes[8 + i];
    out = g;
    return true;
}

QEvent::Type WindowMessageEvent::TypeId() {
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

void* CoTaskMemAlloc(size_t size) {
    return std::malloc(size ? size : 1);
}
void CoTaskMemFree(void* p) {
    std::free(p);
}

void SetMediaSystem(IMediaSystem* system) {
    g_system = system;
}
IMediaSystem* MediaSystem() {
    return g_system;
}

HRESULT CoCreateInstance(const CLSID& clsid, const IID& iid, void** object) {
    if (object)
        *object = nullptr;
    return g_system ? g_system->CreateInstance(clsid, iid, object) : E_UNEXPECTED;
}
HRESULT OleSaveToStream(IMoniker* moniker, std::vector<uint8_t>* stream) {
    return g_system ? g_system->SaveMonikerToStream(moniker, stream) : E_UNEXPECTED;
}
HRESULT OleLoadFromStream(const std::vector<uint8_t>& stream, const IID& iid, void** object) {
    if (object)
        *object = nullptr;
    return g_system ? g_system->LoadMonikerFromStream(stream, iid, object) : E_UNEXPECTED;
}
HRESULT GetRunningObjectTable(IRunningObjectTable** table) {
    if (table)
        *table = nullptr;
    return g_system ? g_system->GetRunningObjectTable(table) : E_UNEXPECTED;
}
HRESULT CreateItemMoniker(const WString& delimiter, const WString& item, IMoniker** moniker) {
    if (moniker)
        *moniker = nullptr;
    return g_system ? g_system->CreateItemMoniker(delimiter, item, moniker) : E_UNEXPECTED;
}
HRESULT OleCreatePropertyFrame(QWidget* parent, int32_t x, int32_t y, const WString& caption,
                               const std::vector<IUnknown*>& objects,
                               const std::vector<GUID>& pages) {
    return g_system ? g_system->CreatePropertyFrame(parent, x, y, caption, objects, pages)
                    : E_UNEXPECTED;
}
uint32_t AMGetErrorText(HRESULT hr, char* buffer, uint32_t size) {
    if (buffer && size)
        buffer[0] = 0;
    return g_system ? g_system->GetErrorText(hr, buffer, size) : 0;
}
HRESULT RegisterDeviceNotification(QObject* receiver, uint32_t message) {
    return g_system ? g_system->RegisterDeviceNotification(receiver, message) : E_UNEXPECTED;
}
HRESULT UnregisterDeviceNotification(QObject* receiver) {
    return g_system ? g_system->UnregisterDeviceNotification(receiver) : E_UNEXPECTED;
}
HRESULT WaitForDevices(int32_t boundMs, std::vector<std::string>* unanswered) {
    return g_system ? g_system->WaitForDevices(boundMs, unanswered) : S_OK;
}
bool RenewableDevices() {
    return g_system && g_system->RenewableDevices();
}
HRESULT RenewDevices(int32_t boundMs) {
    return g_system ? g_system->RenewDevices(boundMs) : S_OK;
}

}  // namespace media
