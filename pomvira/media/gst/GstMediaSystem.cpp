// SPDX-License-Identifier: GPL-3.0-or-later
#include "GstMediaSystem.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include <QCoreApplication>
#include <QString>
#include <unistd.h>

#include "BinFilter.h"
#include "CaptureGraphBuilder.h"
#include "DeviceEnum.h"
#include "DeviceWatch.h"
#include "FilterGraph.h"
#include "GstRef.h"
#include "RenderingFilters.h"

namespace media::gst {

namespace {

struct Registry {
    std::mutex lock;
    std::map<CLSID, FilterClassFactory> classes;
    PropertyFrameHandler propertyFrame;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

struct ErrorText {
    HRESULT hr;
    const char* text;
};

const ErrorText kErrorTexts[] = {
    {S_OK, QT_TRANSLATE_NOOP("Media", "L'opération a réussi.")},
    {S_FALSE, QT_TRANSLATE_NOOP("Media", "L'opération s'est terminée, avec un résultat faux.")},
    {E_NOTIMPL, QT_TRANSLATE_NOOP("Media", "Fonction non disponible.")},
    {E_NOINTERFACE, QT_TRANSLATE_NOOP("Media", "Cette interface n'est pas prise en charge.")},
    {E_POINTER, QT_TRANSLATE_NOOP("Media", "Pointeur non valide.")},
    {E_ABORT, QT_TRANSLATE_NOOP("Media", "Opération abandonnée.")},
    {E_FAIL, QT_TRANSLATE_NOOP("Media", "Erreur non spécifiée.")},
    {E_UNEXPECTED, QT_TRANSLATE_NOOP("Media", "Défaillance grave et inattendue.")},
    {E_OUTOFMEMORY,
     QT_TRANSLATE_NOOP("Media", "Mémoire insuffisante pour achever cette opération.")},
    {E_INVALIDARG, QT_TRANSLATE_NOOP("Media", "Paramètre incorrect.")},
    {E_ACCESSDENIED, QT_TRANSLATE_NOOP("Media", "Accès refusé.")},
    {STG_E_FILENOTFOUND, QT_TRANSLATE_NOOP("Media", "Le fichier est introuvable.")},
    {MK_E_UNAVAILABLE, QT_TRANSLATE_NOOP("Media", "Opération non disponible.")},
    {REGDB_E_CLASSNOTREG, QT_TRANSLATE_NOOP("Media", "Classe non enregistrée.")},
    {VFW_E_INVALIDMEDIATYPE,
     QT_TRANSLATE_NOOP("Media", "Un type de média non valide a été spécifié.")},
    {VFW_E_INVALIDSUBTYPE,
     QT_TRANSLATE_NOOP("Media", "Un sous-type de média non valide a été spécifié.")},
    {VFW_E_ALREADY_CONNECTED,
     QT_TRANSLATE_NOOP("Media",
                       "L'opération n'a pas pu être effectuée, car la broche est déjà connectée.")},
    {VFW_E_FILTER_ACTIVE,
     QT_TRANSLATE_NOOP("Media", "L'opération n'a pas pu être effectuée, car le filtre est actif.")},
    {VFW_E_NO_TYPES,
     QT_TRANSLATE_NOOP("Media",
                       "L'une des broches indiquées ne prend en charge aucun type de média.")},
    {VFW_E_NO_ACCEPTABLE_TYPES,
     QT_TRANSLATE_NOOP("Media", "Ces broches n'ont aucun type de média en commun.")},
    {VFW_E_INVALID_DIRECTION,
     QT_TRANSLATE_NOOP("Media",
                       "Deux broches de même sens ne peuvent pas être connectées entre elles.")},
    {VFW_E_NOT_CONNECTED,
     QT_TRANSLATE_NOOP(
         "Media",
         "L'opération ne peut pas être effectuée, car les broches ne sont pas connectées.")},
    {VFW_E_RUNTIME_ERROR, QT_TRANSLATE_NOOP("Media", "Une erreur d'exécution s'est produite.")},
    {VFW_E_NO_INTERFACE, QT_TRANSLATE_NOOP("Media", "L'interface requise est introuvable.")},
    {VFW_E_NOT_FOUND, QT_TRANSLATE_NOOP("Media", "Un objet ou un nom est introuvable.")},
    {VFW_E_CANNOT_CONNECT,
     QT_TRANSLATE_NOOP(
         "Media",
         "Aucune combinaison de filtres intermédiaires ne permet d'établir la connexion.")},
    {VFW_E_CANNOT_RENDER,
     QT_TRANSLATE_NOOP("Media", "Aucune combinaison de filtres ne permet de restituer le flux.")},
    {VFW_E_NOT_STOPPED,
     QT_TRANSLATE_NOOP("Media",
                       "L'opération n'a pas pu être effectuée, car le filtre n'est pas arrêté.")},
    {VFW_E_WRONG_STATE,
     QT_TRANSLATE_NOOP(
         "Media",
         "L'opération n'a pas pu être effectuée, car le filtre n'est pas dans l'état voulu.")},
    {VFW_E_TYPE_NOT_ACCEPTED,
     QT_TRANSLATE_NOOP("Media", "Cette broche ne peut pas utiliser le type de média fourni.")},
    {VFW_E_NOT_IN_GRAPH, QT_TRANSLATE_NOOP("Media",
                                           "Impossible d'effectuer la fonction demandée sur un "
                                           "objet qui n'est pas dans le graphe de filtres.")},
    {VFW_E_NO_CAPTURE_HARDWARE,
     QT_TRANSLATE_NOOP("Media",
                       "Capture impossible : aucun matériel de capture n'est disponible.")},
    {VFW_E_TIMEOUT, QT_TRANSLATE_NOOP("Media", "Le délai de l'opération a expiré.")},
    {VFW_E_DUPLICATE_NAME,
     QT_TRANSLATE_NOOP("Media", "Un filtre de ce nom existe déjà dans le graphe de filtres.")},
    {VFW_E_FILE_NOT_FOUND, QT_TRANSLATE_NOOP("Media", "Le fichier indiqué est introuvable.")},
    {HResultFromWin32(ERROR_PATH_NOT_FOUND),
     QT_TRANSLATE_NOOP("Media", "Le chemin d'accès spécifié est introuvable.")},
    {HResultFromWin32(ERROR_WRITE_PROTECT),
     QT_TRANSLATE_NOOP("Media", "Le support est protégé en écriture.")},
    {HResultFromWin32(ERROR_NOT_READY),
     QT_TRANSLATE_NOOP("Media", "Le périphérique n'est pas prêt.")},
    {HResultFromWin32(ERROR_WRITE_FAULT),
     QT_TRANSLATE_NOOP("Media", "Impossible d'écrire sur le périphérique spécifié.")},
    {HResultFromWin32(ERROR_FILE_EXISTS), QT_TRANSLATE_NOOP("Media", "Le fichier existe.")},
    {HResultFromWin32(ERROR_DISK_FULL),
     QT_TRANSLATE_NOOP("Media", "Il n'y a pas assez d'espace sur le disque.")},
    {HResultFromWin32(ERROR_FILE_TOO_LARGE),
     QT_TRANSLATE_NOOP("Media",
                       "La taille du fichier dépasse la limite autorisée ; il ne peut pas être "
                       "enregistré.")},
};

constexpr CLSID CLSID_ItemMoniker =
    MakeGuid(0x00000304, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

class RunningObjectTable;
RunningObjectTable& TheTable();

// Answered by ItemMoniker only, to reach its item text.
constexpr IID IID_ItemMonikerImpl =
    MakeGuid(0x7A3C5E40, 0x51B2, 0x4C6E, 0x9A, 0x41, 0x2D, 0x6F, 0x10, 0x83, 0xC4, 0x40);

// "delimiter" + "item": names an object of the running object table.
class ItemMoniker : public ComObject<IMoniker, IPersist> {
  public:
    ItemMoniker() = default;
    ItemMoniker(const WString& delimiter, const WString& item)
        : delimiter_(delimiter), item_(item) {}

    const WString& Item() const { return item_; }

    HRESULT GetClassID(CLSID* clsid) override {
        if (!clsid)
            return E_POINTER;
        *clsid = CLSID_ItemMoniker;
        return S_OK;
    }
    HRESULT BindToObject(const IID& iid, void** object) override;
    HRESULT BindToStorage(const IID&, void** object) override {
        if (object)
            *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDisplayName(WString* name) override {
        if (!name)
            return E_POINTER;
        *name = delimiter_ + item_;
        return S_OK;
    }
    HRESULT Save(std::vector<uint8_t>* data) override {
        if (!data)
            return E_POINTER;
        std::string d = ToUtf8(delimiter_), i = ToUtf8(item_);
        data->assign(d.begin(), d.end());
        data->push_back(0);
        data->insert(data->end(), i.begin(), i.end());
        return S_OK;
    }
    HRESULT Load(const std::vector<uint8_t>& data) override {
        auto zero = std::find(data.begin(), data.end(), uint8_t(0));
        if (zero == data.end())
            return E_INVALIDARG;
        delimiter_ = FromUtf8(std::string(data.begin(), zero).c_str());
        item_ = FromUtf8(std::string(zero + 1, data.end()).c_str());
        return S_OK;
    }

  protected:
    void* ExtraInterface(const IID& iid) override {
        return iid == IID_ItemMonikerImpl ? this : nullptr;
    }

  private:
    WString delimiter_;
    WString item_;
};

// The in-process running object table. Registered objects are held with a
// reference until they are revoked.
class RunningObjectTable : public ComObject<IRunningObjectTable> {
  public:
    // Lives as long as the process; never released to zero.
    RunningObjectTable() { AddRef(); }

    HRESULT Register(uint32_t, IUnknown* object, IMoniker* name, uint32_t* cookie) override {
        if (!object || !name || !cookie)
            return E_INVALIDARG;
        *cookie = 0;
        WString display;
        if (FAILED(name->GetDisplayName(&display)))
            return E_INVALIDARG;
        WString item = display;
        void* p = nullptr;
        if (SUCCEEDED(name->QueryInterface(IID_ItemMonikerImpl, &p)) && p) {
            item = static_cast<ItemMoniker*>(p)->Item();
            name->Release();
        }
        Entry e{++lastCookie_, ComPtr<IUnknown>(object), display, item};
        {
            std::lock_guard<std::mutex> guard(lock_);
            entries_.push_back(e);
        }
        SetInspectionName(object, ToUtf8(item));
        *cookie = e.cookie;
        return S_OK;
    }

    HRESULT Revoke(uint32_t cookie) override {
        ComPtr<IUnknown> object;
        {
            std::lock_guard<std::mutex> guard(lock_);
            auto it = std::find_if(entries_.begin(), entries_.end(),
                                   [cookie](const Entry& e) { return e.cookie == cookie; });
            if (it == entries_.end())
                return E_INVALIDARG;
            object = it->object;
            entries_.erase(it);
        }
        SetInspectionName(object.Get(), std::string());
        return S_OK;
    }

    HRESULT GetObjectByName(const WString& displayName, IUnknown** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        std::lock_guard<std::mutex> guard(lock_);
        for (const Entry& e : entries_) {
            if (e.display == displayName || e.item == displayName) {
                *object = e.object.Get();
                (*object)->AddRef();
                return S_OK;
            }
        }
        return MK_E_UNAVAILABLE;
    }

  private:
    struct Entry {
        uint32_t cookie;
        ComPtr<IUnknown> object;
        WString display;
        WString item;
    };

    static void SetInspectionName(IUnknown* object, const std::string& name) {
        void* p = nullptr;
        if (object && SUCCEEDED(object->QueryInterface(IID_GraphInternal, &p)) && p) {
            static_cast<GraphInternal*>(p)->SetInspectionName(name);
            object->Release();
        }
    }

    std::mutex lock_;
    std::vector<Entry> entries_;
    uint32_t lastCookie_ = 0;
};

RunningObjectTable& TheTable() {
    static RunningObjectTable* table = new RunningObjectTable;
    return *table;
}

HRESULT ItemMoniker::BindToObject(const IID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    ComPtr<IUnknown> found;
    HRESULT hr = TheTable().GetObjectByName(delimiter_ + item_, found.Put());
    if (FAILED(hr))
        return hr;
    return found->QueryInterface(iid, object);
}

void PutGuid(std::vector<uint8_t>* out, const GUID& g) {
    for (int i = 0; i < 4; ++i)
        out->push_back(uint8_t(g.Data1 >> (8 * i)));
    for (int i = 0; i < 2; ++i)
        out->push_back(uint8_t(g.Data2 >> (8 * i)));
    for (int i = 0; i < 2; ++i)
        out->push_back(uint8_t(g.Data3 >> (8 * i)));
    out->insert(out->end(), g.Data4, g.Data4 + 8);
}

GUID GetGuid(const uint8_t* p) {
    GUID g;
    g.Data1 = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    g.Data2 = uint16_t(p[4] | p[5] << 8);
    g.Data3 = uint16_t(p[6] | p[7] << 8);
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}

template <class T>
HRESULT Hand(T* made, const IID& iid, void** object) {
    ComPtr<IUnknown> owner = ComPtr<IUnknown>::Attach(static_cast<IUnknown*>(made));
    return owner->QueryInterface(iid, object);
}

class System : public IMediaSystem {
  public:
    HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        FilterClassFactory factory;
        {
            Registry& r = TheRegistry();
            std::lock_guard<std::mutex> guard(r.lock);
            auto it = r.classes.find(clsid);
            if (it != r.classes.end())
                factory = it->second;
        }
        if (factory)
            return factory(iid, object);
        if (clsid == CLSID_FilterGraph)
            return Hand(new FilterGraph, iid, object);
        if (clsid == CLSID_CaptureGraphBuilder2)
            return Hand(new CaptureGraphBuilder, iid, object);
        if (clsid == CLSID_SystemDeviceEnum)
            return Hand(new SystemDeviceEnum, iid, object);
        return REGDB_E_CLASSNOTREG;
    }

    HRESULT SaveMonikerToStream(IMoniker* moniker, std::vector<uint8_t>* stream) override {
        if (!moniker || !stream)
            return E_POINTER;
        CLSID clsid{};
        HRESULT hr = moniker->GetClassID(&clsid);
        if (FAILED(hr))
            return hr;
        std::vector<uint8_t> data;
        hr = moniker->Save(&data);
        if (FAILED(hr))
            return hr;
        stream->clear();
        PutGuid(stream, clsid);
        stream->insert(stream->end(), data.begin(), data.end());
        return S_OK;
    }

    HRESULT LoadMonikerFromStream(const std::vector<uint8_t>& stream, const IID& iid,
                                  void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (stream.size() < 16)
            return E_INVALIDARG;
        CLSID clsid = GetGuid(stream.data());
        std::vector<uint8_t> data(stream.begin() + 16, stream.end());
        ComPtr<IMoniker> moniker;
        if (clsid == CLSID_DeviceMoniker) {
            moniker = ComPtr<IMoniker>::Attach(NewDeviceMoniker());
        } else if (clsid == CLSID_ItemMoniker) {
            moniker = ComPtr<IMoniker>::Attach(new ItemMoniker);
        } else {
            return REGDB_E_CLASSNOTREG;
        }
        HRESULT hr = moniker->Load(data);
        if (FAILED(hr))
            return hr;
        return moniker->QueryInterface(iid, object);
    }

    HRESULT GetRunningObjectTable(IRunningObjectTable** table) override {
        if (!table)
            return E_POINTER;
        *table = &TheTable();
        (*table)->AddRef();
        return S_OK;
    }

    HRESULT CreateItemMoniker(const WString& delimiter, const WString& item,
                              IMoniker** moniker) override {
        if (!moniker)
            return E_POINTER;
        *moniker = new ItemMoniker(delimiter, item);
        return S_OK;
    }

    HRESULT CreatePropertyFrame(QWidget* parent, int32_t, int32_t, const WString& caption,
                                const std::vector<IUnknown*>& objects,
                                const std::vector<GUID>& pages) override {
        PropertyFrameHandler handler;
        {
            Registry& r = TheRegistry();
            std::lock_guard<std::mutex> guard(r.lock);
            handler = r.propertyFrame;
        }
        if (!handler)
            return E_NOTIMPL;
        return handler(parent, caption, objects, pages);
    }

    uint32_t GetErrorText(HRESULT hr, char* buffer, uint32_t size) override {
        for (const auto& e : kErrorTexts) {
            if (e.hr != hr)
                continue;
            // The text in the user's language, as UTF-8.
            const QByteArray text = QCoreApplication::translate("Media", e.text).toUtf8();
            uint32_t len = uint32_t(text.size());
            if (buffer && size > 0) {
                uint32_t n = std::min(len, size - 1);
                // A text cut short ends before a character, not inside one.
                while (n > 0 && n < len && (uchar(text[n]) & 0xC0) == 0x80)
                    --n;
                std::memcpy(buffer, text.constData(), n);
                buffer[n] = '\0';
            }
            return len;
        }
        if (buffer && size > 0)
            buffer[0] = '\0';
        return 0;
    }

    HRESULT RegisterDeviceNotification(QObject* receiver, uint32_t message) override {
        if (!receiver)
            return E_POINTER;
        DeviceWatch::Get().Register(receiver, message);
        return S_OK;
    }

    HRESULT UnregisterDeviceNotification(QObject* receiver) override {
        DeviceWatch::Get().Unregister(receiver);
        return S_OK;
    }

    HRESULT WaitForDevices(int32_t boundMs, std::vector<std::string>* unanswered) override {
        return DeviceWatch::Get().WaitStarted(boundMs, unanswered) ? S_OK : S_FALSE;
    }

    bool RenewableDevices() override { return DeviceWatch::Get().Renewable(); }

    HRESULT RenewDevices(int32_t boundMs) override {
        return DeviceWatch::Get().Renew(boundMs) ? S_OK : S_FALSE;
    }
};

}  // namespace

IMediaSystem* GstMediaSystem() {
    static System* system = [] {
        gst_init(nullptr, nullptr);
        RegisterRenderingClasses();
        return new System;
    }();
    return system;
}

void RegisterFilterClass(const CLSID& clsid, FilterClassFactory factory) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.classes[clsid] = std::move(factory);
}

void SetPropertyFrameHandler(PropertyFrameHandler handler) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.propertyFrame = std::move(handler);
}

}  // namespace media::gst
