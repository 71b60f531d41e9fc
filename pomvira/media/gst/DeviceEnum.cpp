// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceEnum.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "BinFilter.h"
#include "CaptureFilters.h"
#include "DeviceIdentity.h"
#include "DeviceWatch.h"
#include "Filters.h"

namespace media::gst {

const char* const kDeviceListingOrder = "pomvira.listing-order";

namespace {

struct CategoryInfo {
    GUID guid;
    const char* name;
};

const CategoryInfo kCategories[] = {
    {CLSID_VideoInputDeviceCategory, "Video Capture Sources"},
    {CLSID_AudioInputDeviceCategory, "Audio Capture Sources"},
    {CLSID_VideoCompressorCategory, "Video Compressors"},
    {CLSID_AudioCompressorCategory, "Audio Compressors"},
};

struct Device {
    GstRef<GstDevice> device;
    DeviceIdentity identity;
    bool ordered = false;  // carries its place in the listing
    int order = 0;
};

std::vector<Device> ListDevices(bool video) {
    std::vector<Device> result;
    std::vector<Device> real;
    std::set<std::string> seen;
    std::vector<Device> listed;
    for (const auto& device : DeviceWatch::Get().Devices(video)) {
        Device d;
        d.device = device;
        d.identity.kind = video ? MonikerKind::VideoInput : MonikerKind::AudioInput;
        d.identity.provider = G_OBJECT_TYPE_NAME(device.Get());
        StringRef name = StringRef::Adopt(gst_device_get_display_name(device.Get()));
        d.identity.name = name ? name.Get() : "";
        listed.push_back(std::move(d));
    }
    // Identities are made per provider: devices of one provider that share
    // their identity are told apart there.
    std::map<std::string, std::vector<Device*>> byProvider;
    for (Device& d : listed)
        byProvider[d.identity.provider].push_back(&d);
    for (auto& [provider, devices] : byProvider) {
        std::vector<DeviceProperties> properties;
        for (Device* d : devices) {
            properties.push_back(DeviceProperties::Adopt(gst_device_get_properties(d->device.Get())));
            d->ordered = properties.back() && gst_structure_get_int(properties.back().Get(),
                                                                     kDeviceListingOrder, &d->order);
        }
        std::vector<std::string> ids = StableDeviceIds(properties);
        for (size_t i = 0; i < devices.size(); ++i)
            devices[i]->identity.id = ids[i].empty() ? devices[i]->identity.name : ids[i];
    }
    for (Device& d : listed) {
        if (d.ordered) {
            result.push_back(std::move(d));
        } else if (seen.insert(d.identity.id).second) {
            real.push_back(std::move(d));
        }
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const Device& a, const Device& b) { return a.order < b.order; });
    std::stable_sort(real.begin(), real.end(), [](const Device& a, const Device& b) {
        return std::tie(a.identity.provider, a.identity.id) <
               std::tie(b.identity.provider, b.identity.id);
    });
    for (Device& d : real)
        result.push_back(std::move(d));
    return result;
}

// The caps a request pad of avimux takes ("video_%u" / "audio_%u").
CapsRef MuxCaps(bool video) {
    GstRef<GstElementFactory> factory =
        GstRef<GstElementFactory>::Adopt(gst_element_factory_find("avimux"));
    if (!factory)
        return nullptr;
    const char* wanted = video ? "video_%u" : "audio_%u";
    for (const GList* l = gst_element_factory_get_static_pad_templates(factory.Get()); l;
         l = l->next) {
        auto* t = static_cast<GstStaticPadTemplate*>(l->data);
        if (std::strcmp(t->name_template, wanted) == 0) {
            return CapsRef::Adopt(gst_static_caps_get(&t->static_caps));
        }
    }
    return nullptr;
}

CapsRef FactoryCaps(GstElementFactory* factory, GstPadDirection direction) {
    CapsRef all = CapsRef::Adopt(gst_caps_new_empty());
    for (const GList* l = gst_element_factory_get_static_pad_templates(factory); l; l = l->next) {
        auto* t = static_cast<GstStaticPadTemplate*>(l->data);
        if (t->direction != direction)
            continue;
        all = CapsRef::Adopt(gst_caps_merge(all.Detach(), gst_static_caps_get(&t->static_caps)));
    }
    return all;
}

bool KlassHas(GstElementFactory* factory, const char* part) {
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return klass && std::strstr(klass, part);
}

// The parser that turns what the encoder writes into what avimux takes, or
// null when none is registered.
std::string ParserFor(GstElementFactory* encoder, GstCaps* muxCaps) {
    CapsRef encoded = FactoryCaps(encoder, GST_PAD_SRC);
    GList* factories =
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_PARSER, GST_RANK_MARGINAL);
    factories = g_list_sort(factories, gst_plugin_feature_rank_compare_func);
    std::string found;
    for (GList* l = factories; l && found.empty(); l = l->next) {
        auto* f = GST_ELEMENT_FACTORY(l->data);
        CapsRef in = FactoryCaps(f, GST_PAD_SINK);
        CapsRef out = FactoryCaps(f, GST_PAD_SRC);
        if (gst_caps_can_intersect(in.Get(), encoded.Get()) &&
            gst_caps_can_intersect(out.Get(), muxCaps)) {
            found = GST_OBJECT_NAME(f);
        }
    }
    gst_plugin_feature_list_free(factories);
    return found;
}

std::vector<DeviceIdentity> ListCompressors(bool video) {
    std::vector<DeviceIdentity> result;
    CapsRef muxCaps = MuxCaps(video);
    if (!muxCaps)
        return result;
    GList* factories =
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_ENCODER, GST_RANK_NONE);
    std::vector<GstElementFactory*> chosen;
    for (GList* l = factories; l; l = l->next) {
        auto* f = GST_ELEMENT_FACTORY(l->data);
        bool kind = video ? (KlassHas(f, "Encoder/Video") || KlassHas(f, "Encoder/Image"))
                          : KlassHas(f, "Encoder/Audio");
        if (!kind)
            continue;
        CapsRef out = FactoryCaps(f, GST_PAD_SRC);
        if (gst_caps_can_intersect(out.Get(), muxCaps.Get()) ||
            !ParserFor(f, muxCaps.Get()).empty()) {
            chosen.push_back(f);
        }
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](GstElementFactory* a, GstElementFactory* b) {
        guint ra = gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(a));
        guint rb = gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(b));
        if (ra != rb)
            return ra > rb;
        return std::strcmp(GST_OBJECT_NAME(a), GST_OBJECT_NAME(b)) < 0;
    });
    for (GstElementFactory* f : chosen) {
        DeviceIdentity id;
        id.kind = video ? MonikerKind::VideoCompressor : MonikerKind::AudioCompressor;
        id.provider = "factory";
        id.id = GST_OBJECT_NAME(f);
        const char* longName = gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_LONGNAME);
        id.name = longName ? longName : id.id;
        result.push_back(std::move(id));
    }
    gst_plugin_feature_list_free(factories);
    return result;
}

// A compressor's filter: the encoder and, when avimux needs one, a parser.
IBaseFilter* MakeCompressor(const DeviceIdentity& id) {
    GstRef<GstElementFactory> factory =
        GstRef<GstElementFactory>::Adopt(gst_element_factory_find(id.id.c_str()));
    if (!factory)
        return nullptr;
    bool video = id.kind == MonikerKind::VideoCompressor;
    CapsRef muxCaps = MuxCaps(video);
    std::string parser = muxCaps ? ParserFor(factory.Get(), muxCaps.Get()) : std::string();
    // x264 keeps the 4:2:2 sampling of a YUY2 camera when offered it, and
    // few players decode such streams: it is given 4:2:0 pictures.
    const bool wants420 = id.id == "x264enc";
    std::vector<const char*> chain;
    if (wants420)
        chain.push_back("capsfilter");
    chain.push_back(id.id.c_str());
    if (!parser.empty())
        chain.push_back(parser.c_str());
    ChainFilter* filter = ChainFilter::Create(NameGuid("factory:" + id.id), chain);
    if (filter && wants420) {
        CapsRef i420 = CapsRef::Adopt(gst_caps_from_string("video/x-raw, format=(string)I420"));
        g_object_set(filter->Elements().front(), "caps", i420.Get(), nullptr);
    }
    return filter;
}

// ---------------------------------------------------------------------------
// Property bag and moniker
// ---------------------------------------------------------------------------
class PropertyBag : public ComObject<IPropertyBag> {
  public:
    explicit PropertyBag(const DeviceIdentity& id) : id_(id) {}
    HRESULT Read(const WString& name, WString* value) override {
        if (!value)
            return E_POINTER;
        if (name == u"FriendlyName") {
            *value = FromUtf8(id_.name.c_str());
        } else if (name == u"CLSID") {
            GUID clsid{};
            if (id_.kind == MonikerKind::Category) {
                GuidFromString(id_.id, clsid);
            } else {
                clsid = NameGuid(id_.provider == "factory" ? "factory:" + id_.id
                                                           : "provider:" + id_.provider);
            }
            *value = FromUtf8(GuidToString(clsid).c_str());
        } else if (name == u"DevicePath" && id_.kind != MonikerKind::Category) {
            *value = FromUtf8(id_.id.c_str());
        } else {
            return E_INVALIDARG;
        }
        return S_OK;
    }

  private:
    DeviceIdentity id_;
};

void PutString(std::vector<uint8_t>* out, const std::string& s) {
    uint32_t n = uint32_t(s.size());
    for (int i = 0; i < 4; ++i)
        out->push_back(uint8_t(n >> (8 * i)));
    out->insert(out->end(), s.begin(), s.end());
}

bool GetString(const std::vector<uint8_t>& in, size_t* pos, std::string* s) {
    if (in.size() - *pos < 4)
        return false;
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
        n |= uint32_t(in[*pos + size_t(i)]) << (8 * i);
    *pos += 4;
    if (in.size() - *pos < n)
        return false;
    s->assign(reinterpret_cast<const char*>(in.data() + *pos), n);
    *pos += n;
    return true;
}

const uint8_t kMonikerMagic[4] = {'P', 'M', 'V', '1'};

class DeviceMoniker : public ComObject<IMoniker, IPersist> {
  public:
    DeviceMoniker() = default;
    explicit DeviceMoniker(const DeviceIdentity& id) : id_(id), valid_(true) {}

    HRESULT GetClassID(CLSID* clsid) override {
        if (!clsid)
            return E_POINTER;
        *clsid = CLSID_DeviceMoniker;
        return S_OK;
    }

    HRESULT BindToObject(const IID& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!valid_)
            return E_UNEXPECTED;
        ComPtr<IBaseFilter> filter;
        switch (id_.kind) {
            case MonikerKind::VideoInput:
            case MonikerKind::AudioInput: {
                bool video = id_.kind == MonikerKind::VideoInput;
                std::vector<Device> devices = ListDevices(video);
                const Device* match = nullptr;
                for (const Device& d : devices) {
                    if (d.identity.provider == id_.provider && d.identity.id == id_.id) {
                        match = &d;
                        break;
                    }
                }
                if (!match)
                    return MK_E_UNAVAILABLE;
                CLSID clsid = NameGuid("provider:" + id_.provider);
                BinFilter* made = video ? static_cast<BinFilter*>(VideoCaptureFilter::Create(
                                              clsid, match->device.Get()))
                                        : static_cast<BinFilter*>(AudioCaptureFilter::Create(
                                              clsid, match->device.Get()));
                if (!made)
                    return VFW_E_NO_CAPTURE_HARDWARE;
                filter = ComPtr<IBaseFilter>::Attach(made);
                break;
            }
            case MonikerKind::VideoCompressor:
            case MonikerKind::AudioCompressor: {
                IBaseFilter* made = MakeCompressor(id_);
                if (!made)
                    return MK_E_UNAVAILABLE;
                filter = ComPtr<IBaseFilter>::Attach(made);
                break;
            }
            default:
                return E_NOTIMPL;
        }
        return filter->QueryInterface(iid, object);
    }

    HRESULT BindToStorage(const IID& iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!valid_)
            return E_UNEXPECTED;
        ComPtr<IPropertyBag> bag = ComPtr<IPropertyBag>::Attach(new PropertyBag(id_));
        return bag->QueryInterface(iid, object);
    }

    HRESULT GetDisplayName(WString* name) override {
        if (!name)
            return E_POINTER;
        *name = FromUtf8(("@device:" + id_.provider + ":" + id_.id).c_str());
        return S_OK;
    }

    HRESULT Save(std::vector<uint8_t>* data) override {
        if (!data)
            return E_POINTER;
        if (!valid_)
            return E_UNEXPECTED;
        data->assign(kMonikerMagic, kMonikerMagic + 4);
        data->push_back(uint8_t(id_.kind));
        PutString(data, id_.provider);
        PutString(data, id_.id);
        PutString(data, id_.name);
        return S_OK;
    }

    HRESULT Load(const std::vector<uint8_t>& data) override {
        if (data.size() < 5 || !std::equal(kMonikerMagic, kMonikerMagic + 4, data.begin())) {
            return E_INVALIDARG;
        }
        DeviceIdentity id;
        uint8_t kind = data[4];
        if (kind < uint8_t(MonikerKind::VideoInput) || kind > uint8_t(MonikerKind::Category)) {
            return E_INVALIDARG;
        }
        id.kind = MonikerKind(kind);
        size_t pos = 5;
        if (!GetString(data, &pos, &id.provider) || !GetString(data, &pos, &id.id) ||
            !GetString(data, &pos, &id.name)) {
            return E_INVALIDARG;
        }
        id_ = id;
        valid_ = true;
        return S_OK;
    }

  private:
    DeviceIdentity id_;
    bool valid_ = false;
};

}  // namespace

GUID NameGuid(const std::string& name) {
    GChecksum* sum = g_checksum_new(G_CHECKSUM_MD5);
    std::string text = "pomvira-gst:" + name;
    g_checksum_update(sum, reinterpret_cast<const guchar*>(text.data()), gssize(text.size()));
    guint8 digest[16];
    gsize len = sizeof digest;
    g_checksum_get_digest(sum, digest, &len);
    g_checksum_free(sum);
    digest[6] = uint8_t((digest[6] & 0x0F) | 0x30);  // name-based, version 3
    digest[8] = uint8_t((digest[8] & 0x3F) | 0x80);
    return MakeGuid(uint32_t(digest[0]) << 24 | uint32_t(digest[1]) << 16 |
                        uint32_t(digest[2]) << 8 | digest[3],
                    uint16_t(digest[4] << 8 | digest[5]), uint16_t(digest[6] << 8 | digest[7]),
                    digest[8], digest[9], digest[10], digest[11], digest[12], digest[13],
                    digest[14], digest[15]);
}

std::vector<DeviceIdentity> ListCategory(const GUID& category) {
    std::vector<DeviceIdentity> result;
    if (category == CLSID_VideoInputDeviceCategory || category == CLSID_AudioInputDeviceCategory) {
        for (Device& d : ListDevices(category == CLSID_VideoInputDeviceCategory)) {
            result.push_back(std::move(d.identity));
        }
    } else if (category == CLSID_VideoCompressorCategory) {
        result = ListCompressors(true);
    } else if (category == CLSID_AudioCompressorCategory) {
        result = ListCompressors(false);
    } else if (category == CLSID_ActiveMovieCategories) {
        for (const CategoryInfo& c : kCategories) {
            DeviceIdentity id;
            id.kind = MonikerKind::Category;
            id.provider = "category";
            id.id = GuidToString(c.guid);
            id.name = c.name;
            result.push_back(std::move(id));
        }
    }
    return result;
}

IMoniker* NewDeviceMoniker(const DeviceIdentity& identity) {
    return new DeviceMoniker(identity);
}
IMoniker* NewDeviceMoniker() {
    return new DeviceMoniker;
}

HRESULT SystemDeviceEnum::CreateClassEnumerator(const GUID& category, IEnumMoniker** monikers,
                                                uint32_t) {
    if (!monikers)
        return E_POINTER;
    *monikers = nullptr;
    std::vector<DeviceIdentity> entries = ListCategory(category);
    if (entries.empty())
        return S_FALSE;
    std::vector<ComPtr<IMoniker>> items;
    for (const DeviceIdentity& id : entries) {
        items.push_back(ComPtr<IMoniker>::Attach(NewDeviceMoniker(id)));
    }
    *monikers = new SnapshotEnum<IEnumMoniker, IMoniker>(std::move(items));
    return S_OK;
}

}  // namespace media::gst
