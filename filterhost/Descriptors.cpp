#include "filterhost/Descriptors.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int kMaxObjectDepth = 8;

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void Encode(const Descriptor& descriptor, std::vector<uint8_t>& out) {
  for (const DescriptorItem& item : descriptor) {
    Put32(out, item.key);
    Put32(out, item.type);
    switch (item.type) {
      case kTypeInteger:
        Put32(out, uint32_t(item.integer));
        break;
      case kTypeBoolean:
        out.push_back(item.integer ? 1 : 0);
        break;
      case kTypeFloat: {
        uint64_t bits;
        std::memcpy(&bits, &item.number, 8);
        Put32(out, uint32_t(bits));
        Put32(out, uint32_t(bits >> 32));
        break;
      }
      case kTypeEnumerated:
        Put32(out, item.kind);
        Put32(out, item.value);
        break;
      case kTypeObject: {
        std::vector<uint8_t> inner;
        Encode(item.object, inner);
        Put32(out, item.kind);
        Put32(out, uint32_t(inner.size()));
        out.insert(out.end(), inner.begin(), inner.end());
        break;
      }
      default:
        Put32(out, uint32_t(item.raw.size()));
        out.insert(out.end(), item.raw.begin(), item.raw.end());
        break;
    }
  }
}

class Cursor {
 public:
  Cursor(const uint8_t* p, size_t n) : p_(p), end_(p + n) {}
  bool Get32(uint32_t* v) {
    if (end_ - p_ < 4) return false;
    *v = p_[0] | p_[1] << 8 | p_[2] << 16 | uint32_t(p_[3]) << 24;
    p_ += 4;
    return true;
  }
  bool GetBytes(size_t n, const uint8_t** bytes) {
    if (size_t(end_ - p_) < n) return false;
    *bytes = p_;
    p_ += n;
    return true;
  }
  bool AtEnd() const { return p_ == end_; }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

bool Decode(const uint8_t* bytes, size_t size, Descriptor* descriptor, int depth) {
  if (depth > kMaxObjectDepth) return false;
  Cursor c(bytes, size);
  descriptor->clear();
  while (!c.AtEnd()) {
    DescriptorItem item;
    uint32_t a = 0, b = 0;
    const uint8_t* p = nullptr;
    if (!c.Get32(&item.key) || !c.Get32(&item.type)) return false;
    switch (item.type) {
      case kTypeInteger:
        if (!c.Get32(&a)) return false;
        item.integer = int32_t(a);
        break;
      case kTypeBoolean:
        if (!c.GetBytes(1, &p) || *p > 1) return false;
        item.integer = *p;
        break;
      case kTypeFloat: {
        if (!c.Get32(&a) || !c.Get32(&b)) return false;
        const uint64_t bits = a | uint64_t(b) << 32;
        std::memcpy(&item.number, &bits, 8);
        break;
      }
      case kTypeEnumerated:
        if (!c.Get32(&item.kind) || !c.Get32(&item.value)) return false;
        break;
      case kTypeObject:
        if (!c.Get32(&item.kind) || !c.Get32(&a) || !c.GetBytes(a, &p) ||
            !Decode(p, a, &item.object, depth + 1))
          return false;
        break;
      default:
        if (!c.Get32(&a) || !c.GetBytes(a, &p)) return false;
        item.raw.assign(p, p + a);
        break;
    }
    descriptor->push_back(std::move(item));
  }
  return true;
}

DescriptorHost* g_current = nullptr;

}  // namespace

DescriptorItem DescriptorItem::Integer(DescriptorKeyID key, int32_t v) {
  DescriptorItem item;
  item.key = key, item.type = kTypeInteger, item.integer = v;
  return item;
}
DescriptorItem DescriptorItem::Float(DescriptorKeyID key, double v) {
  DescriptorItem item;
  item.key = key, item.type = kTypeFloat, item.number = v;
  return item;
}
DescriptorItem DescriptorItem::Bool(DescriptorKeyID key, bool v) {
  DescriptorItem item;
  item.key = key, item.type = kTypeBoolean, item.integer = v ? 1 : 0;
  return item;
}
DescriptorItem DescriptorItem::Enum(DescriptorKeyID key, uint32_t type, uint32_t v) {
  DescriptorItem item;
  item.key = key, item.type = kTypeEnumerated, item.kind = type, item.value = v;
  return item;
}
DescriptorItem DescriptorItem::Object(DescriptorKeyID key, uint32_t cls, Descriptor items) {
  DescriptorItem item;
  item.key = key, item.type = kTypeObject, item.kind = cls, item.object = std::move(items);
  return item;
}
DescriptorItem DescriptorItem::Raw(DescriptorKeyID key, DescriptorTypeID type,
                                   std::vector<uint8_t> bytes) {
  DescriptorItem item;
  item.key = key, item.type = type, item.raw = std::move(bytes);
  return item;
}

std::string CodeText(uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) text += char(code >> shift);
  return text;
}

std::vector<uint8_t> EncodeDescriptor(const Descriptor& descriptor) {
  std::vector<uint8_t> out;
  Encode(descriptor, out);
  return out;
}

bool DecodeDescriptor(const uint8_t* bytes, size_t size, Descriptor* descriptor) {
  return Decode(bytes, size, descriptor, 0);
}

struct DescriptorHost::HostHandle {
  std::vector<uint8_t> bytes;
};

struct DescriptorHost::Reader {
  Descriptor items;
  size_t next = 0;
  const DescriptorItem* current = nullptr;
  OSErr sticky = kNoErr;
  bool coercion = true;
  OSErr Fail(OSErr err) {
    if (sticky == kNoErr) sticky = err;
    return err;
  }
  // The current key's item if it has that type, else null with the error kept.
  const DescriptorItem* Item(DescriptorTypeID type) {
    if (!current || current->type != type) {
      Fail(kParamErr);
      return nullptr;
    }
    return current;
  }
  OSErr Number(double* v) {
    if (current && current->type == kTypeInteger && coercion) {
      *v = current->integer;
      return kNoErr;
    }
    const DescriptorItem* item = Item(kTypeFloat);
    if (!item) return kParamErr;
    *v = item->number;
    return kNoErr;
  }
  OSErr Whole(int32_t* v) {
    if (current && current->type == kTypeFloat && coercion) {
      const double d = current->number;
      if (!(d >= -2147483648.0 && d < 2147483648.0)) return Fail(kParamErr);
      *v = int32_t(d);
      return kNoErr;
    }
    const DescriptorItem* item = Item(kTypeInteger);
    if (!item) return kParamErr;
    *v = item->integer;
    return kNoErr;
  }
};

struct DescriptorHost::Writer {
  Descriptor items;
  OSErr sticky = kNoErr;
  OSErr Add(DescriptorItem item) {
    items.push_back(std::move(item));
    return kNoErr;
  }
};

namespace {

DescriptorHost::Reader* ReaderOf(PIReadDescriptor token) {
  return g_current && g_current->LiveReader(token) ? static_cast<DescriptorHost::Reader*>(token)
                                                   : nullptr;
}
DescriptorHost::Writer* WriterOf(PIWriteDescriptor token) {
  return g_current && g_current->LiveWriter(token) ? static_cast<DescriptorHost::Writer*>(token)
                                                   : nullptr;
}

extern "C" {

PIReadDescriptor OpenRead(PIDescriptorHandle handle, DescriptorKeyID*) {
  return g_current ? g_current->OpenReader(handle) : nullptr;
}
OSErr CloseRead(PIReadDescriptor token) {
  return g_current ? g_current->CloseReader(token) : kParamErr;
}
Boolean GetKey(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type,
               int32_t* flags) {
  DescriptorHost::Reader* r = ReaderOf(token);
  if (!r || r->next >= r->items.size()) {
    if (r) r->current = nullptr;
    return 0;
  }
  r->current = &r->items[r->next++];
  if (key) *key = r->current->key;
  if (type) *type = r->current->type;
  if (flags) *flags = 0;
  return 1;
}
OSErr GetInteger(PIReadDescriptor token, int32_t* v) {
  DescriptorHost::Reader* r = ReaderOf(token);
  return r && v ? r->Whole(v) : kParamErr;
}
OSErr GetFloat(PIReadDescriptor token, double* v) {
  DescriptorHost::Reader* r = ReaderOf(token);
  return r && v ? r->Number(v) : kParamErr;
}
OSErr GetBoolean(PIReadDescriptor token, Boolean* v) {
  DescriptorHost::Reader* r = ReaderOf(token);
  const DescriptorItem* item = r && v ? r->Item(kTypeBoolean) : nullptr;
  if (!item) return kParamErr;
  *v = Boolean(item->integer);
  return kNoErr;
}
OSErr GetEnumerated(PIReadDescriptor token, DescriptorEnumID* v) {
  DescriptorHost::Reader* r = ReaderOf(token);
  const DescriptorItem* item = r && v ? r->Item(kTypeEnumerated) : nullptr;
  if (!item) return kParamErr;
  *v = item->value;
  return kNoErr;
}
OSErr GetObject(PIReadDescriptor token, DescriptorClassID* cls, PIDescriptorHandle* handle) {
  DescriptorHost::Reader* r = ReaderOf(token);
  const DescriptorItem* item = r && cls && handle ? r->Item(kTypeObject) : nullptr;
  if (!item) return kParamErr;
  *cls = item->kind;
  *handle = g_current->NewHandle(EncodeDescriptor(item->object));
  return kNoErr;
}
OSErr GetPinnedInteger(PIReadDescriptor token, int32_t min, int32_t max, int32_t* v) {
  DescriptorHost::Reader* r = ReaderOf(token);
  if (!r || !v) return kParamErr;
  int32_t value = 0;
  if (OSErr err = r->Whole(&value)) return err;
  *v = std::clamp(value, min, std::max(min, max));
  return *v == value ? kNoErr : r->Fail(kCoercedParamErr);
}
OSErr GetPinnedFloat(PIReadDescriptor token, const double* min, const double* max, double* v) {
  DescriptorHost::Reader* r = ReaderOf(token);
  if (!r || !v || !min || !max) return kParamErr;
  double value = 0;
  if (OSErr err = r->Number(&value)) return err;
  *v = std::clamp(value, *min, std::max(*min, *max));
  return *v == value ? kNoErr : r->Fail(kCoercedParamErr);
}
// What this host does not serve: the plug-in is told the value is of another type.
OSErr GetUnitFloat(PIReadDescriptor token, DescriptorUnitID*, double*) {
  if (DescriptorHost::Reader* r = ReaderOf(token)) return r->Fail(kParamErr);
  return kParamErr;
}
OSErr GetHandleValue(PIReadDescriptor token, Handle*) {
  return GetUnitFloat(token, nullptr, nullptr);
}
OSErr GetId(PIReadDescriptor token, uint32_t*) {
  return GetUnitFloat(token, nullptr, nullptr);
}
OSErr GetReference(PIReadDescriptor token, void*) {
  return GetUnitFloat(token, nullptr, nullptr);
}
OSErr GetString(PIReadDescriptor token, uint8_t (*)[256]) {
  return GetUnitFloat(token, nullptr, nullptr);
}
OSErr GetPinnedUnitFloat(PIReadDescriptor token, const double*, const double*, DescriptorUnitID*,
                         double*) {
  return GetUnitFloat(token, nullptr, nullptr);
}

PIWriteDescriptor OpenWrite() {
  return g_current ? g_current->OpenWriter() : nullptr;
}
OSErr CloseWrite(PIWriteDescriptor token, PIDescriptorHandle* handle) {
  return g_current ? g_current->CloseWriter(token, handle) : kParamErr;
}
OSErr Put(PIWriteDescriptor token, DescriptorItem item) {
  DescriptorHost::Writer* w = WriterOf(token);
  return w ? w->Add(std::move(item)) : kParamErr;
}
OSErr PutInteger(PIWriteDescriptor token, DescriptorKeyID key, int32_t v) {
  return Put(token, DescriptorItem::Integer(key, v));
}
OSErr PutFloat(PIWriteDescriptor token, DescriptorKeyID key, const double* v) {
  return v ? Put(token, DescriptorItem::Float(key, *v)) : kParamErr;
}
OSErr PutBoolean(PIWriteDescriptor token, DescriptorKeyID key, Boolean v) {
  return Put(token, DescriptorItem::Bool(key, v != 0));
}
OSErr PutEnumerated(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                    DescriptorEnumID v) {
  return Put(token, DescriptorItem::Enum(key, type, v));
}
OSErr PutObject(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID cls,
                PIDescriptorHandle handle) {
  std::vector<uint8_t>* bytes = g_current ? g_current->Bytes(handle) : nullptr;
  Descriptor object;
  if (!bytes || !DecodeDescriptor(bytes->data(), bytes->size(), &object)) return kParamErr;
  return Put(token, DescriptorItem::Object(key, cls, std::move(object)));
}
OSErr PutUnsupported(PIWriteDescriptor token) {
  DescriptorHost::Writer* w = WriterOf(token);
  if (w && w->sticky == kNoErr) w->sticky = kParamErr;
  return kParamErr;
}
OSErr PutUnitFloat(PIWriteDescriptor token, DescriptorKeyID, DescriptorUnitID, const double*) {
  return PutUnsupported(token);
}
OSErr PutHandleValue(PIWriteDescriptor token, DescriptorKeyID, Handle) {
  return PutUnsupported(token);
}
OSErr PutType(PIWriteDescriptor token, DescriptorKeyID, DescriptorTypeID) {
  return PutUnsupported(token);
}
OSErr PutReference(PIWriteDescriptor token, DescriptorKeyID, const void*) {
  return PutUnsupported(token);
}
OSErr PutCount(PIWriteDescriptor token, DescriptorKeyID, uint32_t) {
  return PutUnsupported(token);
}
OSErr PutString(PIWriteDescriptor token, DescriptorKeyID, const uint8_t*) {
  return PutUnsupported(token);
}
OSErr PutScopedObject(PIWriteDescriptor token, DescriptorKeyID, DescriptorTypeID,
                      PIDescriptorHandle) {
  return PutUnsupported(token);
}

Handle NewHandleProc(int32_t size) {
  if (!g_current || size < 0) return nullptr;
  return g_current->NewHandle(std::vector<uint8_t>(size_t(size)));
}
void DisposeHandleProc(Handle handle) {
  if (g_current) g_current->DisposeHandle(handle);
}
int32_t HandleSizeProc(Handle handle) {
  std::vector<uint8_t>* bytes = g_current ? g_current->Bytes(handle) : nullptr;
  return bytes ? int32_t(bytes->size()) : 0;
}
OSErr SetHandleSizeProc(Handle handle, int32_t size) {
  std::vector<uint8_t>* bytes = g_current ? g_current->Bytes(handle) : nullptr;
  if (!bytes || size < 0) return kParamErr;
  bytes->resize(size_t(size));
  return kNoErr;
}
void* LockHandleProc(Handle handle, Boolean) {
  std::vector<uint8_t>* bytes = g_current ? g_current->Bytes(handle) : nullptr;
  return bytes ? bytes->data() : nullptr;
}
void UnlockHandleProc(Handle) {}

}  // extern "C"

ReadDescriptorProcs g_readProcs = {0,
                                   kReadDescriptorProcCount,
                                   OpenRead,
                                   CloseRead,
                                   GetKey,
                                   GetInteger,
                                   GetFloat,
                                   GetUnitFloat,
                                   GetBoolean,
                                   GetHandleValue,
                                   GetHandleValue,
                                   GetEnumerated,
                                   GetId,
                                   GetReference,
                                   GetObject,
                                   GetId,
                                   GetString,
                                   GetPinnedInteger,
                                   GetPinnedFloat,
                                   GetPinnedUnitFloat};
WriteDescriptorProcs g_writeProcs = {0,
                                     kWriteDescriptorProcCount,
                                     OpenWrite,
                                     CloseWrite,
                                     PutInteger,
                                     PutFloat,
                                     PutUnitFloat,
                                     PutBoolean,
                                     PutHandleValue,
                                     PutHandleValue,
                                     PutEnumerated,
                                     PutType,
                                     PutReference,
                                     PutObject,
                                     PutCount,
                                     PutString,
                                     PutType,
                                     PutScopedObject};
HandleProcs g_handleProcs = {1,
                             6,
                             NewHandleProc,
                             DisposeHandleProc,
                             HandleSizeProc,
                             SetHandleSizeProc,
                             LockHandleProc,
                             UnlockHandleProc};

}  // namespace

DescriptorHost::DescriptorHost() = default;

DescriptorHost::~DescriptorHost() {
  for (HostHandle* h : handles_) delete h;
  for (Reader* r : readers_) delete r;
  for (Writer* w : writers_) delete w;
  if (g_current == this) g_current = nullptr;
}

Handle DescriptorHost::NewHandle(std::vector<uint8_t> bytes) {
  auto* handle = new HostHandle{std::move(bytes)};
  handles_.insert(handle);
  return handle;
}

std::vector<uint8_t>* DescriptorHost::Bytes(Handle handle) {
  auto* h = static_cast<HostHandle*>(handle);
  return handles_.count(h) ? &h->bytes : nullptr;
}

void DescriptorHost::DisposeHandle(Handle handle) {
  auto* h = static_cast<HostHandle*>(handle);
  if (!handles_.erase(h)) {
    ++badDisposals;  // never live, or disposed already: left alone
    return;
  }
  if (handle == handed_) {
    handedDescriptorDisposed = true;
    handed_ = nullptr;  // a new handle may come at the same address
  }
  delete h;
}

DescriptorHost::Reader* DescriptorHost::OpenReader(Handle handle) {
  std::vector<uint8_t>* bytes = Bytes(handle);
  if (!bytes) return nullptr;
  auto* reader = new Reader;
  reader->coercion = setup.coercion;
  if (!DecodeDescriptor(bytes->data(), bytes->size(), &reader->items)) {
    reader->items.clear();
    reader->sticky = kParamErr;
  }
  readers_.insert(reader);
  return reader;
}

OSErr DescriptorHost::CloseReader(void* token) {
  auto* reader = static_cast<Reader*>(token);
  if (!readers_.erase(reader)) return kParamErr;
  const OSErr err = reader->sticky;
  delete reader;
  return err;
}

DescriptorHost::Writer* DescriptorHost::OpenWriter() {
  auto* writer = new Writer;
  writers_.insert(writer);
  return writer;
}

OSErr DescriptorHost::CloseWriter(void* token, Handle* handle) {
  auto* writer = static_cast<Writer*>(token);
  if (!writers_.erase(writer)) return kParamErr;
  const OSErr err = writer->sticky;
  if (handle) *handle = NewHandle(EncodeDescriptor(writer->items));
  delete writer;
  return err;
}

void DescriptorHost::BeginRun(FilterRecord& record) {
  g_current = this;
  recorded = false;
  descriptor.clear();
  recordedDecodes = true;
  recordInfo = -1;
  handedDescriptorDisposed = false;
  message.clear();
  std::memset(errorText_, 0, sizeof errorText_);
  handed_ = setup.descriptor ? NewHandle(*setup.descriptor) : nullptr;
  parameters_ = PIDescriptorParameters{};
  parameters_.playInfo = setup.playInfo;
  parameters_.recordInfo = -1;
  parameters_.descriptor = handed_;
  if (setup.structure == ScriptingSetup::Structure::kFull) {
    parameters_.readDescriptorProcs = &g_readProcs;
    parameters_.writeDescriptorProcs = &g_writeProcs;
  }
  record.handleProcs = &g_handleProcs;
  record.descriptorParameters =
      setup.structure == ScriptingSetup::Structure::kNone ? nullptr : &parameters_;
  errorPointer_ = &errorText_;
  record.errorString = setup.errorString ? errorPointer_ : nullptr;
}

void DescriptorHost::EndRun(FilterRecord& record) {
  Handle left = parameters_.descriptor;
  recordInfo = parameters_.recordInfo;
  if (left && left != handed_) {
    recorded = true;
    std::vector<uint8_t>* bytes = Bytes(left);
    recordedDecodes = bytes && DecodeDescriptor(bytes->data(), bytes->size(), &descriptor);
  }
  // The host owns what is left in the structure, and a handed descriptor the plug-in did
  // not dispose.
  const bool disposedByPlugin = handedDescriptorDisposed;
  if (left) DisposeHandle(left);
  if (handed_) DisposeHandle(handed_);
  handedDescriptorDisposed = disposedByPlugin;
  handed_ = nullptr;
  message.assign(reinterpret_cast<const char*>(errorText_ + 1), errorText_[0]);
  record.handleProcs = nullptr;
  record.descriptorParameters = nullptr;
  record.errorString = nullptr;
  parameters_ = PIDescriptorParameters{};
  if (g_current == this) g_current = nullptr;
}
