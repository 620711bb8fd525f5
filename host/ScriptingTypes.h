// Our declaration of the host's scripting interface: the descriptor structure the host
// record points at, the two callback suites that read and write descriptors, and the
// host's handle suite, through which descriptor handles are disposed. Every callback is
// cdecl. The layouts are packed to 4 like the host record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/HostTypes.h"

using DescriptorKeyID = uint32_t;
using DescriptorTypeID = uint32_t;
using DescriptorClassID = uint32_t;
using DescriptorEnumID = uint32_t;
using DescriptorEnumTypeID = uint32_t;
using DescriptorUnitID = uint32_t;
using PIDescriptorHandle = Handle;
using PIReadDescriptor = void*;
using PIWriteDescriptor = void*;

// Result codes of the descriptor suites.
constexpr OSErr kParamErr = -50;       // a value of another type than asked for
constexpr OSErr kCoercedParamErr = 2;  // a pinned getter moved the value into its range
constexpr OSErr kErrMissingParameter = -1715;

// Value types, as getKey reports them and the terminology declares them.
constexpr DescriptorTypeID kTypeInteger = FourCC('l', 'o', 'n', 'g');
constexpr DescriptorTypeID kTypeFloat = FourCC('d', 'o', 'u', 'b');
constexpr DescriptorTypeID kTypeUnitFloat = FourCC('U', 'n', 't', 'F');
constexpr DescriptorTypeID kTypeBoolean = FourCC('b', 'o', 'o', 'l');
constexpr DescriptorTypeID kTypeEnumerated = FourCC('e', 'n', 'u', 'm');
constexpr DescriptorTypeID kTypeObject = FourCC('O', 'b', 'j', 'c');
constexpr DescriptorTypeID kTypeText = FourCC('T', 'E', 'X', 'T');
constexpr DescriptorTypeID kTypeClass = FourCC('t', 'y', 'p', 'e');
constexpr DescriptorTypeID kTypeNull = FourCC('n', 'u', 'l', 'l');
// The image the event works on, as its direct parameter.
constexpr DescriptorTypeID kTypeImageReference = FourCC('#', 'I', 'm', 'R');

// A colour as the host's own scripts write it: red, green and blue, doubles from 0 to 255.
constexpr DescriptorClassID kClassRGBColor = FourCC('R', 'G', 'B', 'C');
constexpr DescriptorKeyID kKeyRed = FourCC('R', 'd', ' ', ' ');
constexpr DescriptorKeyID kKeyGreen = FourCC('G', 'r', 'n', ' ');
constexpr DescriptorKeyID kKeyBlue = FourCC('B', 'l', ' ', ' ');

// playInfo, set by the host.
constexpr int16_t kPlayDontDisplay = 0;  // the dialog only if the descriptor is not enough
constexpr int16_t kPlayDisplay = 1;      // the dialog, filled from the descriptor
constexpr int16_t kPlaySilent = 2;       // never the dialog
// recordInfo, set by the plug-in.
constexpr int16_t kRecordOptional = 0;
constexpr int16_t kRecordRequired = 1;
constexpr int16_t kRecordNone = 2;

extern "C" {
typedef PIReadDescriptor (*OpenReadDescriptorProc)(PIDescriptorHandle, DescriptorKeyID* keys);
typedef OSErr (*CloseReadDescriptorProc)(PIReadDescriptor);
typedef Boolean (*GetKeyProc)(PIReadDescriptor, DescriptorKeyID* key, DescriptorTypeID* type,
                              int32_t* flags);
typedef OSErr (*GetIntegerProc)(PIReadDescriptor, int32_t*);
typedef OSErr (*GetFloatProc)(PIReadDescriptor, double*);
typedef OSErr (*GetUnitFloatProc)(PIReadDescriptor, DescriptorUnitID*, double*);
typedef OSErr (*GetBooleanProc)(PIReadDescriptor, Boolean*);
typedef OSErr (*GetTextProc)(PIReadDescriptor, Handle*);
typedef OSErr (*GetAliasProc)(PIReadDescriptor, Handle*);
typedef OSErr (*GetEnumeratedProc)(PIReadDescriptor, DescriptorEnumID*);
typedef OSErr (*GetClassProc)(PIReadDescriptor, DescriptorClassID*);
typedef OSErr (*GetSimpleReferenceProc)(PIReadDescriptor, void*);
typedef OSErr (*GetObjectProc)(PIReadDescriptor, DescriptorClassID*, PIDescriptorHandle*);
typedef OSErr (*GetCountProc)(PIReadDescriptor, uint32_t*);
typedef OSErr (*GetStringProc)(PIReadDescriptor, uint8_t (*)[256]);
typedef OSErr (*GetPinnedIntegerProc)(PIReadDescriptor, int32_t min, int32_t max, int32_t*);
typedef OSErr (*GetPinnedFloatProc)(PIReadDescriptor, const double* min, const double* max,
                                    double*);
typedef OSErr (*GetPinnedUnitFloatProc)(PIReadDescriptor, const double* min, const double* max,
                                        DescriptorUnitID*, double*);

typedef PIWriteDescriptor (*OpenWriteDescriptorProc)();
typedef OSErr (*CloseWriteDescriptorProc)(PIWriteDescriptor, PIDescriptorHandle*);
typedef OSErr (*PutIntegerProc)(PIWriteDescriptor, DescriptorKeyID, int32_t);
typedef OSErr (*PutFloatProc)(PIWriteDescriptor, DescriptorKeyID, const double*);
typedef OSErr (*PutUnitFloatProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorUnitID,
                                  const double*);
typedef OSErr (*PutBooleanProc)(PIWriteDescriptor, DescriptorKeyID, Boolean);
typedef OSErr (*PutTextProc)(PIWriteDescriptor, DescriptorKeyID, Handle);
typedef OSErr (*PutAliasProc)(PIWriteDescriptor, DescriptorKeyID, Handle);
typedef OSErr (*PutEnumeratedProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID,
                                   DescriptorEnumID);
typedef OSErr (*PutClassProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID);
typedef OSErr (*PutSimpleReferenceProc)(PIWriteDescriptor, DescriptorKeyID, const void*);
typedef OSErr (*PutObjectProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID,
                               PIDescriptorHandle);
typedef OSErr (*PutCountProc)(PIWriteDescriptor, DescriptorKeyID, uint32_t);
typedef OSErr (*PutStringProc)(PIWriteDescriptor, DescriptorKeyID, const uint8_t*);
typedef OSErr (*PutScopedClassProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID);
typedef OSErr (*PutScopedObjectProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID,
                                     PIDescriptorHandle);

typedef Handle (*NewPIHandleProc)(int32_t size);
typedef void (*DisposePIHandleProc)(Handle);
typedef int32_t (*GetPIHandleSizeProc)(Handle);
typedef OSErr (*SetPIHandleSizeProc)(Handle, int32_t size);
typedef void* (*LockPIHandleProc)(Handle, Boolean moveHigh);
typedef void (*UnlockPIHandleProc)(Handle);
}

#pragma pack(push, 4)
struct ReadDescriptorProcs {
  int16_t readDescriptorProcsVersion;
  int16_t numReadDescriptorProcs;
  OpenReadDescriptorProc openReadDescriptorProc;
  CloseReadDescriptorProc closeReadDescriptorProc;
  GetKeyProc getKeyProc;
  GetIntegerProc getIntegerProc;
  GetFloatProc getFloatProc;
  GetUnitFloatProc getUnitFloatProc;
  GetBooleanProc getBooleanProc;
  GetTextProc getTextProc;
  GetAliasProc getAliasProc;
  GetEnumeratedProc getEnumeratedProc;
  GetClassProc getClassProc;
  GetSimpleReferenceProc getSimpleReferenceProc;
  GetObjectProc getObjectProc;
  GetCountProc getCountProc;
  GetStringProc getStringProc;
  GetPinnedIntegerProc getPinnedIntegerProc;
  GetPinnedFloatProc getPinnedFloatProc;
  GetPinnedUnitFloatProc getPinnedUnitFloatProc;
};
constexpr int16_t kReadDescriptorProcCount = 18;

struct WriteDescriptorProcs {
  int16_t writeDescriptorProcsVersion;
  int16_t numWriteDescriptorProcs;
  OpenWriteDescriptorProc openWriteDescriptorProc;
  CloseWriteDescriptorProc closeWriteDescriptorProc;
  PutIntegerProc putIntegerProc;
  PutFloatProc putFloatProc;
  PutUnitFloatProc putUnitFloatProc;
  PutBooleanProc putBooleanProc;
  PutTextProc putTextProc;
  PutAliasProc putAliasProc;
  PutEnumeratedProc putEnumeratedProc;
  PutClassProc putClassProc;
  PutSimpleReferenceProc putSimpleReferenceProc;
  PutObjectProc putObjectProc;
  PutCountProc putCountProc;
  PutStringProc putStringProc;
  PutScopedClassProc putScopedClassProc;
  PutScopedObjectProc putScopedObjectProc;
};
constexpr int16_t kWriteDescriptorProcCount = 16;

struct PIDescriptorParameters {
  int16_t descriptorParametersVersion;  // 0
  int16_t playInfo;
  int16_t recordInfo;
  PIDescriptorHandle descriptor;
  WriteDescriptorProcs* writeDescriptorProcs;
  ReadDescriptorProcs* readDescriptorProcs;
};

struct HandleProcs {
  int16_t handleProcsVersion;
  int16_t numHandleProcs;
  NewPIHandleProc newProc;
  DisposePIHandleProc disposeProc;
  GetPIHandleSizeProc getSizeProc;
  SetPIHandleSizeProc setSizeProc;
  LockPIHandleProc lockProc;
  UnlockPIHandleProc unlockProc;
};
constexpr int16_t kHandleProcCountForDispose = 2;  // newProc and disposeProc
#pragma pack(pop)

#if INTPTR_MAX == INT32_MAX
static_assert(offsetof(PIDescriptorParameters, descriptor) == 8);
static_assert(offsetof(PIDescriptorParameters, writeDescriptorProcs) == 12);
static_assert(offsetof(PIDescriptorParameters, readDescriptorProcs) == 16);
static_assert(sizeof(PIDescriptorParameters) == 20);
static_assert(sizeof(ReadDescriptorProcs) == 4 + 18 * 4);
static_assert(sizeof(WriteDescriptorProcs) == 4 + 16 * 4);
static_assert(offsetof(HandleProcs, disposeProc) == 8);
#else
static_assert(offsetof(PIDescriptorParameters, descriptor) == 8);
static_assert(offsetof(PIDescriptorParameters, writeDescriptorProcs) == 16);
static_assert(offsetof(PIDescriptorParameters, readDescriptorProcs) == 24);
static_assert(sizeof(PIDescriptorParameters) == 32);
static_assert(sizeof(ReadDescriptorProcs) == 4 + 18 * 8);
static_assert(sizeof(WriteDescriptorProcs) == 4 + 16 * 8);
static_assert(offsetof(HandleProcs, disposeProc) == 12);
#endif
