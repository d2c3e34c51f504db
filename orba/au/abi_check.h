#pragma once

// What the host and the system read byte for byte: sizes, alignments and
// member offsets of every struct the wrapper exchanges, the value of every
// constant, and the exact types of the functions and callbacks. Written only
// in the system's own names, so the same assertions hold the stand-in of
// orba/au/sys.h and the macOS headers to one layout on 64-bit targets.

#include <cstddef>
#include <type_traits>

#include "orba/au/sys.h"

static_assert(sizeof(void*) == 8 && sizeof(long) == 8, "the interface is checked for LP64 only");

// The system marks a few of these constants deprecated; naming them here is
// not using them.
#if defined(__GNUC__) || defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif

namespace orba::au::abi_check {

#define ORBA_AU_LAYOUT(type, size, align)                 \
    static_assert(sizeof(type) == (size), #type " size"); \
    static_assert(alignof(type) == (align), #type " alignment")
#define ORBA_AU_AT(type, member, offset) \
    static_assert(offsetof(type, member) == (offset), #type "." #member)
#define ORBA_AU_VALUE(name, value) \
    static_assert(static_cast<long long>(name) == static_cast<long long>(value), #name)
#define ORBA_AU_SAME(a, b) static_assert(std::is_same_v<a, b>, #a " is " #b)

ORBA_AU_SAME(UInt8, unsigned char);
ORBA_AU_SAME(SInt8, signed char);
ORBA_AU_SAME(UInt16, unsigned short);
ORBA_AU_SAME(SInt16, short);
ORBA_AU_SAME(UInt32, unsigned int);
ORBA_AU_SAME(SInt32, int);
ORBA_AU_SAME(UInt64, unsigned long long);
ORBA_AU_SAME(SInt64, long long);
ORBA_AU_SAME(Float32, float);
ORBA_AU_SAME(Float64, double);
ORBA_AU_SAME(Boolean, unsigned char);
ORBA_AU_SAME(Byte, unsigned char);
ORBA_AU_SAME(OSStatus, int);
ORBA_AU_SAME(OSErr, short);
ORBA_AU_SAME(FourCharCode, unsigned int);
ORBA_AU_SAME(OSType, unsigned int);
ORBA_AU_SAME(UniChar, unsigned short);
ORBA_AU_SAME(CFIndex, long);
ORBA_AU_SAME(CFTypeID, unsigned long);
ORBA_AU_SAME(CFOptionFlags, unsigned long);
ORBA_AU_SAME(CFHashCode, unsigned long);
ORBA_AU_SAME(CFTypeRef, const void*);
ORBA_AU_SAME(CFPropertyListRef, const void*);
ORBA_AU_SAME(CFStringRef, const struct __CFString*);
ORBA_AU_SAME(CFMutableStringRef, struct __CFString*);
ORBA_AU_SAME(CFDictionaryRef, const struct __CFDictionary*);
ORBA_AU_SAME(CFMutableDictionaryRef, struct __CFDictionary*);
ORBA_AU_SAME(CFArrayRef, const struct __CFArray*);
ORBA_AU_SAME(CFMutableArrayRef, struct __CFArray*);
ORBA_AU_SAME(CFDataRef, const struct __CFData*);
ORBA_AU_SAME(CFMutableDataRef, struct __CFData*);
ORBA_AU_SAME(CFNumberRef, const struct __CFNumber*);
ORBA_AU_SAME(CFBooleanRef, const struct __CFBoolean*);
ORBA_AU_SAME(CFAllocatorRef, const struct __CFAllocator*);
ORBA_AU_SAME(CFURLRef, const struct __CFURL*);
ORBA_AU_SAME(CFStringEncoding, unsigned int);
ORBA_AU_SAME(AudioComponent, struct OpaqueAudioComponent*);
ORBA_AU_SAME(AudioUnit, AudioComponentInstance);
ORBA_AU_SAME(MusicDeviceComponent, AudioComponentInstance);
ORBA_AU_SAME(MusicDeviceInstrumentID, UInt32);
ORBA_AU_SAME(MusicDeviceGroupID, UInt32);
ORBA_AU_SAME(NoteInstanceID, UInt32);
ORBA_AU_SAME(AudioUnitPropertyID, UInt32);
ORBA_AU_SAME(AudioUnitScope, UInt32);
ORBA_AU_SAME(AudioUnitElement, UInt32);
ORBA_AU_SAME(AudioUnitParameterID, UInt32);
ORBA_AU_SAME(AudioUnitParameterValue, Float32);
ORBA_AU_SAME(AudioFormatID, UInt32);
ORBA_AU_SAME(AudioFormatFlags, UInt32);
ORBA_AU_SAME(struct AudioUnitParameterNameInfo, AudioUnitParameterIDName);

// Options are plain integers in C++, named enumerations are distinct types.
ORBA_AU_SAME(AudioUnitRenderActionFlags, UInt32);
ORBA_AU_SAME(AudioUnitParameterOptions, UInt32);
ORBA_AU_SAME(AudioTimeStampFlags, UInt32);
ORBA_AU_SAME(SMPTETimeFlags, UInt32);
ORBA_AU_SAME(AudioComponentFlags, UInt32);
ORBA_AU_SAME(AudioComponentInstantiationOptions, UInt32);
ORBA_AU_SAME(std::underlying_type_t<AudioUnitParameterUnit>, UInt32);
ORBA_AU_SAME(std::underlying_type_t<AUParameterEventType>, UInt32);
ORBA_AU_SAME(std::underlying_type_t<SMPTETimeType>, UInt32);
ORBA_AU_SAME(std::underlying_type_t<CFNumberType>, CFIndex);
ORBA_AU_SAME(std::underlying_type_t<CFComparisonResult>, CFIndex);
ORBA_AU_SAME(std::underlying_type_t<CFStringBuiltInEncodings>, CFStringEncoding);

static_assert(sizeof(Boolean) == 1 && sizeof(OSStatus) == 4 && sizeof(UInt32) == 4 &&
              sizeof(Float64) == 8 && sizeof(CFIndex) == 8 && sizeof(CFTypeID) == 8 &&
              sizeof(AudioUnit) == 8 && sizeof(AudioUnitRenderActionFlags) == 4 &&
              sizeof(AudioUnitParameterUnit) == 4 && sizeof(CFNumberType) == 8);

ORBA_AU_LAYOUT(AudioComponentDescription, 20, 4);
ORBA_AU_AT(AudioComponentDescription, componentType, 0);
ORBA_AU_AT(AudioComponentDescription, componentSubType, 4);
ORBA_AU_AT(AudioComponentDescription, componentManufacturer, 8);
ORBA_AU_AT(AudioComponentDescription, componentFlags, 12);
ORBA_AU_AT(AudioComponentDescription, componentFlagsMask, 16);

ORBA_AU_LAYOUT(AudioComponentPlugInInterface, 32, 8);
ORBA_AU_AT(AudioComponentPlugInInterface, Open, 0);
ORBA_AU_AT(AudioComponentPlugInInterface, Close, 8);
ORBA_AU_AT(AudioComponentPlugInInterface, Lookup, 16);
ORBA_AU_AT(AudioComponentPlugInInterface, reserved, 24);
ORBA_AU_SAME(decltype(AudioComponentPlugInInterface::Open),
             OSStatus (*)(void*, AudioComponentInstance));
ORBA_AU_SAME(decltype(AudioComponentPlugInInterface::Close), OSStatus (*)(void*));
ORBA_AU_SAME(decltype(AudioComponentPlugInInterface::Lookup), AudioComponentMethod (*)(SInt16));
ORBA_AU_SAME(decltype(AudioComponentPlugInInterface::reserved), void*);
ORBA_AU_SAME(AudioComponentMethod, OSStatus (*)(void*, ...));
ORBA_AU_SAME(AudioComponentFactoryFunction,
             AudioComponentPlugInInterface* (*)(const AudioComponentDescription*));

ORBA_AU_LAYOUT(AURenderCallbackStruct, 16, 8);
ORBA_AU_AT(AURenderCallbackStruct, inputProc, 0);
ORBA_AU_AT(AURenderCallbackStruct, inputProcRefCon, 8);

ORBA_AU_LAYOUT(HostCallbackInfo, 40, 8);
ORBA_AU_AT(HostCallbackInfo, hostUserData, 0);
ORBA_AU_AT(HostCallbackInfo, beatAndTempoProc, 8);
ORBA_AU_AT(HostCallbackInfo, musicalTimeLocationProc, 16);
ORBA_AU_AT(HostCallbackInfo, transportStateProc, 24);
ORBA_AU_AT(HostCallbackInfo, transportStateProc2, 32);

ORBA_AU_LAYOUT(AudioUnitConnection, 16, 8);
ORBA_AU_AT(AudioUnitConnection, sourceAudioUnit, 0);
ORBA_AU_AT(AudioUnitConnection, sourceOutputNumber, 8);
ORBA_AU_AT(AudioUnitConnection, destInputNumber, 12);

ORBA_AU_LAYOUT(AUChannelInfo, 4, 2);
ORBA_AU_AT(AUChannelInfo, inChannels, 0);
ORBA_AU_AT(AUChannelInfo, outChannels, 2);

ORBA_AU_LAYOUT(AUPreset, 16, 8);
ORBA_AU_AT(AUPreset, presetNumber, 0);
ORBA_AU_AT(AUPreset, presetName, 8);

ORBA_AU_LAYOUT(AudioUnitParameterInfo, 104, 8);
ORBA_AU_AT(AudioUnitParameterInfo, name, 0);
ORBA_AU_AT(AudioUnitParameterInfo, unitName, 56);
ORBA_AU_AT(AudioUnitParameterInfo, clumpID, 64);
ORBA_AU_AT(AudioUnitParameterInfo, cfNameString, 72);
ORBA_AU_AT(AudioUnitParameterInfo, unit, 80);
ORBA_AU_AT(AudioUnitParameterInfo, minValue, 84);
ORBA_AU_AT(AudioUnitParameterInfo, maxValue, 88);
ORBA_AU_AT(AudioUnitParameterInfo, defaultValue, 92);
ORBA_AU_AT(AudioUnitParameterInfo, flags, 96);
static_assert(sizeof(AudioUnitParameterInfo::name) == 52);
ORBA_AU_SAME(decltype(AudioUnitParameterInfo::unit), AudioUnitParameterUnit);
ORBA_AU_SAME(decltype(AudioUnitParameterInfo::flags), AudioUnitParameterOptions);

ORBA_AU_LAYOUT(AudioUnitParameterEvent, 32, 4);
ORBA_AU_AT(AudioUnitParameterEvent, scope, 0);
ORBA_AU_AT(AudioUnitParameterEvent, element, 4);
ORBA_AU_AT(AudioUnitParameterEvent, parameter, 8);
ORBA_AU_AT(AudioUnitParameterEvent, eventType, 12);
ORBA_AU_AT(AudioUnitParameterEvent, eventValues, 16);
ORBA_AU_AT(AudioUnitParameterEvent, eventValues.ramp.startBufferOffset, 16);
ORBA_AU_AT(AudioUnitParameterEvent, eventValues.ramp.durationInFrames, 20);
ORBA_AU_AT(AudioUnitParameterEvent, eventValues.ramp.startValue, 24);
ORBA_AU_AT(AudioUnitParameterEvent, eventValues.ramp.endValue, 28);
ORBA_AU_AT(AudioUnitParameterEvent, eventValues.immediate.bufferOffset, 16);
ORBA_AU_AT(AudioUnitParameterEvent, eventValues.immediate.value, 20);
ORBA_AU_SAME(decltype(AudioUnitParameterEvent::eventType), AUParameterEventType);
ORBA_AU_SAME(decltype(AudioUnitParameterEvent::eventValues.ramp.startBufferOffset), SInt32);
ORBA_AU_SAME(decltype(AudioUnitParameterEvent::eventValues.immediate.bufferOffset), UInt32);

ORBA_AU_LAYOUT(AudioUnitParameterStringFromValue, 24, 8);
ORBA_AU_AT(AudioUnitParameterStringFromValue, inParamID, 0);
ORBA_AU_AT(AudioUnitParameterStringFromValue, inValue, 8);
ORBA_AU_AT(AudioUnitParameterStringFromValue, outString, 16);
ORBA_AU_SAME(decltype(AudioUnitParameterStringFromValue::inValue), const AudioUnitParameterValue*);

ORBA_AU_LAYOUT(AudioUnitParameterIDName, 16, 8);
ORBA_AU_AT(AudioUnitParameterIDName, inID, 0);
ORBA_AU_AT(AudioUnitParameterIDName, inDesiredLength, 4);
ORBA_AU_AT(AudioUnitParameterIDName, outName, 8);
ORBA_AU_SAME(decltype(AudioUnitParameterIDName::inDesiredLength), SInt32);

ORBA_AU_LAYOUT(AudioUnitParameterValueFromString, 24, 8);
ORBA_AU_AT(AudioUnitParameterValueFromString, inParamID, 0);
ORBA_AU_AT(AudioUnitParameterValueFromString, inString, 8);
ORBA_AU_AT(AudioUnitParameterValueFromString, outValue, 16);

ORBA_AU_LAYOUT(AudioStreamBasicDescription, 40, 8);
ORBA_AU_AT(AudioStreamBasicDescription, mSampleRate, 0);
ORBA_AU_AT(AudioStreamBasicDescription, mFormatID, 8);
ORBA_AU_AT(AudioStreamBasicDescription, mFormatFlags, 12);
ORBA_AU_AT(AudioStreamBasicDescription, mBytesPerPacket, 16);
ORBA_AU_AT(AudioStreamBasicDescription, mFramesPerPacket, 20);
ORBA_AU_AT(AudioStreamBasicDescription, mBytesPerFrame, 24);
ORBA_AU_AT(AudioStreamBasicDescription, mChannelsPerFrame, 28);
ORBA_AU_AT(AudioStreamBasicDescription, mBitsPerChannel, 32);
ORBA_AU_AT(AudioStreamBasicDescription, mReserved, 36);

ORBA_AU_LAYOUT(AudioBuffer, 16, 8);
ORBA_AU_AT(AudioBuffer, mNumberChannels, 0);
ORBA_AU_AT(AudioBuffer, mDataByteSize, 4);
ORBA_AU_AT(AudioBuffer, mData, 8);

ORBA_AU_LAYOUT(AudioBufferList, 24, 8);
ORBA_AU_AT(AudioBufferList, mNumberBuffers, 0);
ORBA_AU_AT(AudioBufferList, mBuffers, 8);

ORBA_AU_LAYOUT(SMPTETime, 24, 4);
ORBA_AU_AT(SMPTETime, mSubframes, 0);
ORBA_AU_AT(SMPTETime, mSubframeDivisor, 2);
ORBA_AU_AT(SMPTETime, mCounter, 4);
ORBA_AU_AT(SMPTETime, mType, 8);
ORBA_AU_AT(SMPTETime, mFlags, 12);
ORBA_AU_AT(SMPTETime, mHours, 16);
ORBA_AU_AT(SMPTETime, mMinutes, 18);
ORBA_AU_AT(SMPTETime, mSeconds, 20);
ORBA_AU_AT(SMPTETime, mFrames, 22);

ORBA_AU_LAYOUT(AudioTimeStamp, 64, 8);
ORBA_AU_AT(AudioTimeStamp, mSampleTime, 0);
ORBA_AU_AT(AudioTimeStamp, mHostTime, 8);
ORBA_AU_AT(AudioTimeStamp, mRateScalar, 16);
ORBA_AU_AT(AudioTimeStamp, mWordClockTime, 24);
ORBA_AU_AT(AudioTimeStamp, mSMPTETime, 32);
ORBA_AU_AT(AudioTimeStamp, mFlags, 56);
ORBA_AU_AT(AudioTimeStamp, mReserved, 60);

ORBA_AU_LAYOUT(CFRange, 16, 8);
ORBA_AU_AT(CFRange, location, 0);
ORBA_AU_AT(CFRange, length, 8);

ORBA_AU_LAYOUT(CFDictionaryKeyCallBacks, 48, 8);
ORBA_AU_AT(CFDictionaryKeyCallBacks, version, 0);
ORBA_AU_AT(CFDictionaryKeyCallBacks, retain, 8);
ORBA_AU_AT(CFDictionaryKeyCallBacks, release, 16);
ORBA_AU_AT(CFDictionaryKeyCallBacks, copyDescription, 24);
ORBA_AU_AT(CFDictionaryKeyCallBacks, equal, 32);
ORBA_AU_AT(CFDictionaryKeyCallBacks, hash, 40);

ORBA_AU_LAYOUT(CFDictionaryValueCallBacks, 40, 8);
ORBA_AU_AT(CFDictionaryValueCallBacks, version, 0);
ORBA_AU_AT(CFDictionaryValueCallBacks, retain, 8);
ORBA_AU_AT(CFDictionaryValueCallBacks, release, 16);
ORBA_AU_AT(CFDictionaryValueCallBacks, copyDescription, 24);
ORBA_AU_AT(CFDictionaryValueCallBacks, equal, 32);

ORBA_AU_LAYOUT(CFArrayCallBacks, 40, 8);
ORBA_AU_AT(CFArrayCallBacks, version, 0);
ORBA_AU_AT(CFArrayCallBacks, retain, 8);
ORBA_AU_AT(CFArrayCallBacks, release, 16);
ORBA_AU_AT(CFArrayCallBacks, copyDescription, 24);
ORBA_AU_AT(CFArrayCallBacks, equal, 32);

ORBA_AU_SAME(CFArrayRetainCallBack, const void* (*)(CFAllocatorRef, const void*));
ORBA_AU_SAME(CFArrayReleaseCallBack, void (*)(CFAllocatorRef, const void*));
ORBA_AU_SAME(CFArrayCopyDescriptionCallBack, CFStringRef (*)(const void*));
ORBA_AU_SAME(CFArrayEqualCallBack, Boolean (*)(const void*, const void*));
ORBA_AU_SAME(CFDictionaryRetainCallBack, const void* (*)(CFAllocatorRef, const void*));
ORBA_AU_SAME(CFDictionaryReleaseCallBack, void (*)(CFAllocatorRef, const void*));
ORBA_AU_SAME(CFDictionaryCopyDescriptionCallBack, CFStringRef (*)(const void*));
ORBA_AU_SAME(CFDictionaryEqualCallBack, Boolean (*)(const void*, const void*));
ORBA_AU_SAME(CFDictionaryHashCallBack, CFHashCode (*)(const void*));

ORBA_AU_SAME(AURenderCallback,
             OSStatus (*)(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                          AudioBufferList*));
ORBA_AU_SAME(AudioUnitPropertyListenerProc,
             void (*)(void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement));
ORBA_AU_SAME(HostCallback_GetBeatAndTempo, OSStatus (*)(void*, Float64*, Float64*));
ORBA_AU_SAME(HostCallback_GetMusicalTimeLocation,
             OSStatus (*)(void*, UInt32*, Float32*, UInt32*, Float64*));
ORBA_AU_SAME(HostCallback_GetTransportState,
             OSStatus (*)(void*, Boolean*, Boolean*, Float64*, Boolean*, Float64*, Float64*));
ORBA_AU_SAME(HostCallback_GetTransportState2, OSStatus (*)(void*, Boolean*, Boolean*, Boolean*,
                                                           Float64*, Boolean*, Float64*, Float64*));

// Functions the wrapper and its tests call.
ORBA_AU_SAME(decltype(&CFRetain), CFTypeRef (*)(CFTypeRef));
ORBA_AU_SAME(decltype(&CFRelease), void (*)(CFTypeRef));
ORBA_AU_SAME(decltype(&CFGetTypeID), CFTypeID (*)(CFTypeRef));
ORBA_AU_SAME(decltype(&CFEqual), Boolean (*)(CFTypeRef, CFTypeRef));
ORBA_AU_SAME(decltype(&CFHash), CFHashCode (*)(CFTypeRef));
ORBA_AU_SAME(decltype(&CFGetRetainCount), CFIndex (*)(CFTypeRef));
ORBA_AU_SAME(decltype(&CFStringGetTypeID), CFTypeID (*)());
ORBA_AU_SAME(decltype(&CFNumberGetTypeID), CFTypeID (*)());
ORBA_AU_SAME(decltype(&CFDataGetTypeID), CFTypeID (*)());
ORBA_AU_SAME(decltype(&CFDictionaryGetTypeID), CFTypeID (*)());
ORBA_AU_SAME(decltype(&CFArrayGetTypeID), CFTypeID (*)());
ORBA_AU_SAME(decltype(&CFStringCreateWithCString),
             CFStringRef (*)(CFAllocatorRef, const char*, CFStringEncoding));
ORBA_AU_SAME(decltype(&CFStringCreateWithBytes),
             CFStringRef (*)(CFAllocatorRef, const UInt8*, CFIndex, CFStringEncoding, Boolean));
ORBA_AU_SAME(decltype(&CFStringGetCString),
             Boolean (*)(CFStringRef, char*, CFIndex, CFStringEncoding));
ORBA_AU_SAME(decltype(&CFStringGetLength), CFIndex (*)(CFStringRef));
ORBA_AU_SAME(decltype(&CFStringGetMaximumSizeForEncoding), CFIndex (*)(CFIndex, CFStringEncoding));
ORBA_AU_SAME(decltype(&__CFStringMakeConstantString), CFStringRef (*)(const char*));
ORBA_AU_SAME(decltype(&CFNumberCreate), CFNumberRef (*)(CFAllocatorRef, CFNumberType, const void*));
ORBA_AU_SAME(decltype(&CFNumberGetValue), Boolean (*)(CFNumberRef, CFNumberType, void*));
ORBA_AU_SAME(decltype(&CFDataCreate), CFDataRef (*)(CFAllocatorRef, const UInt8*, CFIndex));
ORBA_AU_SAME(decltype(&CFDataGetLength), CFIndex (*)(CFDataRef));
ORBA_AU_SAME(decltype(&CFDataGetBytePtr), const UInt8* (*)(CFDataRef));
ORBA_AU_SAME(decltype(&CFDictionaryCreateMutable),
             CFMutableDictionaryRef (*)(CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks*,
                                        const CFDictionaryValueCallBacks*));
ORBA_AU_SAME(decltype(&CFDictionarySetValue),
             void (*)(CFMutableDictionaryRef, const void*, const void*));
ORBA_AU_SAME(decltype(&CFDictionaryGetValue), const void* (*)(CFDictionaryRef, const void*));
ORBA_AU_SAME(decltype(&CFDictionaryGetValueIfPresent),
             Boolean (*)(CFDictionaryRef, const void*, const void**));
ORBA_AU_SAME(decltype(&CFDictionaryGetCount), CFIndex (*)(CFDictionaryRef));
ORBA_AU_SAME(decltype(&CFArrayCreate),
             CFArrayRef (*)(CFAllocatorRef, const void**, CFIndex, const CFArrayCallBacks*));
ORBA_AU_SAME(decltype(&CFArrayGetCount), CFIndex (*)(CFArrayRef));
ORBA_AU_SAME(decltype(&CFArrayGetValueAtIndex), const void* (*)(CFArrayRef, CFIndex));
ORBA_AU_SAME(decltype(kCFAllocatorDefault), const CFAllocatorRef);
ORBA_AU_SAME(decltype(kCFTypeArrayCallBacks), const CFArrayCallBacks);
ORBA_AU_SAME(decltype(kCFTypeDictionaryKeyCallBacks), const CFDictionaryKeyCallBacks);
ORBA_AU_SAME(decltype(kCFTypeDictionaryValueCallBacks), const CFDictionaryValueCallBacks);

ORBA_AU_SAME(decltype(&AudioUnitInitialize), OSStatus (*)(AudioUnit));
ORBA_AU_SAME(decltype(&AudioUnitUninitialize), OSStatus (*)(AudioUnit));
ORBA_AU_SAME(decltype(&AudioUnitGetPropertyInfo),
             OSStatus (*)(AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, UInt32*,
                          Boolean*));
ORBA_AU_SAME(decltype(&AudioUnitGetProperty),
             OSStatus (*)(AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, void*,
                          UInt32*));
ORBA_AU_SAME(decltype(&AudioUnitSetProperty),
             OSStatus (*)(AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement,
                          const void*, UInt32));
ORBA_AU_SAME(decltype(&AudioUnitAddPropertyListener),
             OSStatus (*)(AudioUnit, AudioUnitPropertyID, AudioUnitPropertyListenerProc, void*));
ORBA_AU_SAME(decltype(&AudioUnitRemovePropertyListenerWithUserData),
             OSStatus (*)(AudioUnit, AudioUnitPropertyID, AudioUnitPropertyListenerProc, void*));
ORBA_AU_SAME(decltype(&AudioUnitAddRenderNotify), OSStatus (*)(AudioUnit, AURenderCallback, void*));
ORBA_AU_SAME(decltype(&AudioUnitRemoveRenderNotify),
             OSStatus (*)(AudioUnit, AURenderCallback, void*));
ORBA_AU_SAME(decltype(&AudioUnitGetParameter),
             OSStatus (*)(AudioUnit, AudioUnitParameterID, AudioUnitScope, AudioUnitElement,
                          AudioUnitParameterValue*));
ORBA_AU_SAME(decltype(&AudioUnitSetParameter),
             OSStatus (*)(AudioUnit, AudioUnitParameterID, AudioUnitScope, AudioUnitElement,
                          AudioUnitParameterValue, UInt32));
ORBA_AU_SAME(decltype(&AudioUnitScheduleParameters),
             OSStatus (*)(AudioUnit, const AudioUnitParameterEvent*, UInt32));
ORBA_AU_SAME(decltype(&AudioUnitRender),
             OSStatus (*)(AudioUnit, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                          UInt32, AudioBufferList*));
ORBA_AU_SAME(decltype(&AudioUnitReset), OSStatus (*)(AudioUnit, AudioUnitScope, AudioUnitElement));
ORBA_AU_SAME(decltype(&MusicDeviceMIDIEvent),
             OSStatus (*)(MusicDeviceComponent, UInt32, UInt32, UInt32, UInt32));
ORBA_AU_SAME(decltype(&MusicDeviceSysEx), OSStatus (*)(MusicDeviceComponent, const UInt8*, UInt32));
ORBA_AU_SAME(decltype(&AudioComponentInstanceCanDo), Boolean (*)(AudioComponentInstance, SInt16));

ORBA_AU_VALUE(noErr, 0);

ORBA_AU_VALUE(kAudioUnitRange, 0x0000);
ORBA_AU_VALUE(kAudioUnitInitializeSelect, 0x0001);
ORBA_AU_VALUE(kAudioUnitUninitializeSelect, 0x0002);
ORBA_AU_VALUE(kAudioUnitGetPropertyInfoSelect, 0x0003);
ORBA_AU_VALUE(kAudioUnitGetPropertySelect, 0x0004);
ORBA_AU_VALUE(kAudioUnitSetPropertySelect, 0x0005);
ORBA_AU_VALUE(kAudioUnitGetParameterSelect, 0x0006);
ORBA_AU_VALUE(kAudioUnitSetParameterSelect, 0x0007);
ORBA_AU_VALUE(kAudioUnitResetSelect, 0x0009);
ORBA_AU_VALUE(kAudioUnitAddPropertyListenerSelect, 0x000A);
ORBA_AU_VALUE(kAudioUnitRemovePropertyListenerSelect, 0x000B);
ORBA_AU_VALUE(kAudioUnitRenderSelect, 0x000E);
ORBA_AU_VALUE(kAudioUnitAddRenderNotifySelect, 0x000F);
ORBA_AU_VALUE(kAudioUnitRemoveRenderNotifySelect, 0x0010);
ORBA_AU_VALUE(kAudioUnitScheduleParametersSelect, 0x0011);
ORBA_AU_VALUE(kAudioUnitRemovePropertyListenerWithUserDataSelect, 0x0012);
ORBA_AU_VALUE(kAudioUnitComplexRenderSelect, 0x0013);
ORBA_AU_VALUE(kAudioUnitProcessSelect, 0x0014);
ORBA_AU_VALUE(kAudioUnitProcessMultipleSelect, 0x0015);
ORBA_AU_VALUE(kMusicDeviceRange, 0x0100);
ORBA_AU_VALUE(kMusicDeviceMIDIEventSelect, 0x0101);
ORBA_AU_VALUE(kMusicDeviceSysExSelect, 0x0102);
ORBA_AU_VALUE(kMusicDevicePrepareInstrumentSelect, 0x0103);
ORBA_AU_VALUE(kMusicDeviceReleaseInstrumentSelect, 0x0104);
ORBA_AU_VALUE(kMusicDeviceStartNoteSelect, 0x0105);
ORBA_AU_VALUE(kMusicDeviceStopNoteSelect, 0x0106);
ORBA_AU_VALUE(kAudioOutputUnitRange, 0x0200);
ORBA_AU_VALUE(kAudioOutputUnitStartSelect, 0x0201);
ORBA_AU_VALUE(kAudioOutputUnitStopSelect, 0x0202);

ORBA_AU_VALUE(kAudioTimeStampNothingValid, 0);
ORBA_AU_VALUE(kAudioTimeStampSampleTimeValid, 1);
ORBA_AU_VALUE(kAudioTimeStampHostTimeValid, 2);
ORBA_AU_VALUE(kAudioTimeStampRateScalarValid, 4);
ORBA_AU_VALUE(kAudioTimeStampWordClockTimeValid, 8);
ORBA_AU_VALUE(kAudioTimeStampSMPTETimeValid, 16);
ORBA_AU_VALUE(kAudioTimeStampSampleHostTimeValid, 3);
ORBA_AU_VALUE(kSMPTETimeType24, 0);
ORBA_AU_VALUE(kSMPTETimeType25, 1);
ORBA_AU_VALUE(kSMPTETimeType30Drop, 2);
ORBA_AU_VALUE(kSMPTETimeType30, 3);
ORBA_AU_VALUE(kSMPTETimeType2997, 4);
ORBA_AU_VALUE(kSMPTETimeType2997Drop, 5);
ORBA_AU_VALUE(kSMPTETimeType60, 6);
ORBA_AU_VALUE(kSMPTETimeType5994, 7);
ORBA_AU_VALUE(kSMPTETimeType60Drop, 8);
ORBA_AU_VALUE(kSMPTETimeType5994Drop, 9);
ORBA_AU_VALUE(kSMPTETimeType50, 10);
ORBA_AU_VALUE(kSMPTETimeType2398, 11);
ORBA_AU_VALUE(kSMPTETimeUnknown, 0);
ORBA_AU_VALUE(kSMPTETimeValid, 1);
ORBA_AU_VALUE(kSMPTETimeRunning, 2);

ORBA_AU_VALUE(kAudioUnitScope_Global, 0);
ORBA_AU_VALUE(kAudioUnitScope_Input, 1);
ORBA_AU_VALUE(kAudioUnitScope_Output, 2);
ORBA_AU_VALUE(kAudioUnitScope_Group, 3);
ORBA_AU_VALUE(kAudioUnitScope_Part, 4);
ORBA_AU_VALUE(kAudioUnitScope_Note, 5);
ORBA_AU_VALUE(kAudioUnitScope_Layer, 6);
ORBA_AU_VALUE(kAudioUnitScope_LayerItem, 7);

ORBA_AU_VALUE(kAudioUnitProperty_ClassInfo, 0);
ORBA_AU_VALUE(kAudioUnitProperty_MakeConnection, 1);
ORBA_AU_VALUE(kAudioUnitProperty_SampleRate, 2);
ORBA_AU_VALUE(kAudioUnitProperty_ParameterList, 3);
ORBA_AU_VALUE(kAudioUnitProperty_ParameterInfo, 4);
ORBA_AU_VALUE(kAudioUnitProperty_FastDispatch, 5);
ORBA_AU_VALUE(kAudioUnitProperty_CPULoad, 6);
ORBA_AU_VALUE(kAudioUnitProperty_StreamFormat, 8);
ORBA_AU_VALUE(kAudioUnitProperty_ElementCount, 11);
ORBA_AU_VALUE(kAudioUnitProperty_BusCount, 11);
ORBA_AU_VALUE(kAudioUnitProperty_Latency, 12);
ORBA_AU_VALUE(kAudioUnitProperty_SupportedNumChannels, 13);
ORBA_AU_VALUE(kAudioUnitProperty_MaximumFramesPerSlice, 14);
ORBA_AU_VALUE(kAudioUnitProperty_SetExternalBuffer, 15);
ORBA_AU_VALUE(kAudioUnitProperty_ParameterValueStrings, 16);
ORBA_AU_VALUE(kAudioUnitProperty_GetUIComponentList, 18);
ORBA_AU_VALUE(kAudioUnitProperty_AudioChannelLayout, 19);
ORBA_AU_VALUE(kAudioUnitProperty_TailTime, 20);
ORBA_AU_VALUE(kAudioUnitProperty_BypassEffect, 21);
ORBA_AU_VALUE(kAudioUnitProperty_LastRenderError, 22);
ORBA_AU_VALUE(kAudioUnitProperty_SetRenderCallback, 23);
ORBA_AU_VALUE(kAudioUnitProperty_FactoryPresets, 24);
ORBA_AU_VALUE(kAudioUnitProperty_ContextName, 25);
ORBA_AU_VALUE(kAudioUnitProperty_RenderQuality, 26);
ORBA_AU_VALUE(kAudioUnitProperty_HostCallbacks, 27);
ORBA_AU_VALUE(kAudioUnitProperty_CurrentPreset, 28);
ORBA_AU_VALUE(kAudioUnitProperty_InPlaceProcessing, 29);
ORBA_AU_VALUE(kAudioUnitProperty_ElementName, 30);
ORBA_AU_VALUE(kAudioUnitProperty_CocoaUI, 31);
ORBA_AU_VALUE(kAudioUnitProperty_SupportedChannelLayoutTags, 32);
ORBA_AU_VALUE(kAudioUnitProperty_ParameterStringFromValue, 33);
ORBA_AU_VALUE(kAudioUnitProperty_ParameterValueName, 33);
ORBA_AU_VALUE(kAudioUnitProperty_ParameterIDName, 34);
ORBA_AU_VALUE(kAudioUnitProperty_ParameterClumpName, 35);
ORBA_AU_VALUE(kAudioUnitProperty_PresentPreset, 36);
ORBA_AU_VALUE(kAudioUnitProperty_OfflineRender, 37);
ORBA_AU_VALUE(kAudioUnitProperty_ParameterValueFromString, 38);
ORBA_AU_VALUE(kAudioUnitProperty_IconLocation, 39);
ORBA_AU_VALUE(kAudioUnitProperty_PresentationLatency, 40);
ORBA_AU_VALUE(kAudioUnitProperty_AllParameterMIDIMappings, 41);
ORBA_AU_VALUE(kAudioUnitProperty_AddParameterMIDIMapping, 42);
ORBA_AU_VALUE(kAudioUnitProperty_RemoveParameterMIDIMapping, 43);
ORBA_AU_VALUE(kAudioUnitProperty_HotMapParameterMIDIMapping, 44);
ORBA_AU_VALUE(kAudioUnitProperty_DependentParameters, 45);
ORBA_AU_VALUE(kAudioUnitProperty_AUHostIdentifier, 46);
ORBA_AU_VALUE(kAudioUnitProperty_MIDIOutputCallbackInfo, 47);
ORBA_AU_VALUE(kAudioUnitProperty_MIDIOutputCallback, 48);
ORBA_AU_VALUE(kAudioUnitProperty_InputSamplesInOutput, 49);
ORBA_AU_VALUE(kAudioUnitProperty_ClassInfoFromDocument, 50);
ORBA_AU_VALUE(kAudioUnitProperty_ShouldAllocateBuffer, 51);
ORBA_AU_VALUE(kAudioUnitProperty_FrequencyResponse, 52);
ORBA_AU_VALUE(kAudioUnitProperty_ParameterHistoryInfo, 53);
ORBA_AU_VALUE(kAudioUnitProperty_NickName, 54);
ORBA_AU_VALUE(kAudioUnitProperty_RequestViewController, 56);
ORBA_AU_VALUE(kAudioUnitProperty_ParametersForOverview, 57);
ORBA_AU_VALUE(kAudioUnitProperty_SupportsMPE, 58);

ORBA_AU_VALUE(kAudioUnitRenderAction_PreRender, 4);
ORBA_AU_VALUE(kAudioUnitRenderAction_PostRender, 8);
ORBA_AU_VALUE(kAudioUnitRenderAction_OutputIsSilence, 16);
ORBA_AU_VALUE(kAudioOfflineUnitRenderAction_Preflight, 32);
ORBA_AU_VALUE(kAudioOfflineUnitRenderAction_Render, 64);
ORBA_AU_VALUE(kAudioOfflineUnitRenderAction_Complete, 128);
ORBA_AU_VALUE(kAudioUnitRenderAction_PostRenderError, 256);
ORBA_AU_VALUE(kAudioUnitRenderAction_DoNotCheckRenderArgs, 512);

ORBA_AU_VALUE(kAudioUnitParameterUnit_Generic, 0);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Indexed, 1);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Boolean, 2);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Percent, 3);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Seconds, 4);
ORBA_AU_VALUE(kAudioUnitParameterUnit_SampleFrames, 5);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Phase, 6);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Rate, 7);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Hertz, 8);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Cents, 9);
ORBA_AU_VALUE(kAudioUnitParameterUnit_RelativeSemiTones, 10);
ORBA_AU_VALUE(kAudioUnitParameterUnit_MIDINoteNumber, 11);
ORBA_AU_VALUE(kAudioUnitParameterUnit_MIDIController, 12);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Decibels, 13);
ORBA_AU_VALUE(kAudioUnitParameterUnit_LinearGain, 14);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Degrees, 15);
ORBA_AU_VALUE(kAudioUnitParameterUnit_EqualPowerCrossfade, 16);
ORBA_AU_VALUE(kAudioUnitParameterUnit_MixerFaderCurve1, 17);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Pan, 18);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Meters, 19);
ORBA_AU_VALUE(kAudioUnitParameterUnit_AbsoluteCents, 20);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Octaves, 21);
ORBA_AU_VALUE(kAudioUnitParameterUnit_BPM, 22);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Beats, 23);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Milliseconds, 24);
ORBA_AU_VALUE(kAudioUnitParameterUnit_Ratio, 25);
ORBA_AU_VALUE(kAudioUnitParameterUnit_CustomUnit, 26);

ORBA_AU_VALUE(kAudioUnitParameterFlag_CFNameRelease, 0x00000010);
ORBA_AU_VALUE(kAudioUnitParameterFlag_OmitFromPresets, 0x00002000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_PlotHistory, 0x00004000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_MeterReadOnly, 0x00008000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_DisplayMask, 0x00470000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_DisplaySquareRoot, 0x00010000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_DisplaySquared, 0x00020000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_DisplayCubed, 0x00030000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_DisplayCubeRoot, 0x00040000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_DisplayExponential, 0x00050000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_HasClump, 0x00100000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_ValuesHaveStrings, 0x00200000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_DisplayLogarithmic, 0x00400000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_IsHighResolution, 0x00800000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_NonRealTime, 0x01000000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_CanRamp, 0x02000000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_ExpertMode, 0x04000000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_HasCFNameString, 0x08000000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_IsGlobalMeta, 0x10000000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_IsElementMeta, 0x20000000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_IsReadable, 0x40000000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_IsWritable, 0x80000000);
ORBA_AU_VALUE(kAudioUnitParameterFlag_HasName, 0x00200000);

ORBA_AU_VALUE(kAudioFormatLinearPCM, 0x6C70636D);
ORBA_AU_VALUE(kAudioFormatFlagIsFloat, 0x01);
ORBA_AU_VALUE(kAudioFormatFlagIsBigEndian, 0x02);
ORBA_AU_VALUE(kAudioFormatFlagIsSignedInteger, 0x04);
ORBA_AU_VALUE(kAudioFormatFlagIsPacked, 0x08);
ORBA_AU_VALUE(kAudioFormatFlagIsAlignedHigh, 0x10);
ORBA_AU_VALUE(kAudioFormatFlagIsNonInterleaved, 0x20);
ORBA_AU_VALUE(kAudioFormatFlagIsNonMixable, 0x40);
ORBA_AU_VALUE(kAudioFormatFlagsAreAllClear, 0x80000000);
ORBA_AU_VALUE(kLinearPCMFormatFlagIsFloat, 0x01);
ORBA_AU_VALUE(kLinearPCMFormatFlagIsBigEndian, 0x02);
ORBA_AU_VALUE(kLinearPCMFormatFlagIsSignedInteger, 0x04);
ORBA_AU_VALUE(kLinearPCMFormatFlagIsPacked, 0x08);
ORBA_AU_VALUE(kLinearPCMFormatFlagIsAlignedHigh, 0x10);
ORBA_AU_VALUE(kLinearPCMFormatFlagIsNonInterleaved, 0x20);
ORBA_AU_VALUE(kLinearPCMFormatFlagIsNonMixable, 0x40);
ORBA_AU_VALUE(kLinearPCMFormatFlagsAreAllClear, 0x80000000);
ORBA_AU_VALUE(kLinearPCMFormatFlagsSampleFractionShift, 7);
ORBA_AU_VALUE(kLinearPCMFormatFlagsSampleFractionMask, 0x1F80);
ORBA_AU_VALUE(kAudioFormatFlagsNativeEndian, 0);
ORBA_AU_VALUE(kAudioFormatFlagsNativeFloatPacked, 9);
ORBA_AU_VALUE(kAudioFormatFlagsCanonical, 9);
ORBA_AU_VALUE(kAudioFormatFlagsAudioUnitCanonical, 0x29);

ORBA_AU_VALUE(kParameterEvent_Immediate, 1);
ORBA_AU_VALUE(kParameterEvent_Ramped, 2);

ORBA_AU_VALUE(kAudio_UnimplementedError, -4);
ORBA_AU_VALUE(kAudio_FileNotFoundError, -43);
ORBA_AU_VALUE(kAudio_TooManyFilesOpenError, -42);
ORBA_AU_VALUE(kAudio_ParamError, -50);
ORBA_AU_VALUE(kAudio_FilePermissionError, -54);
ORBA_AU_VALUE(kAudio_MemFullError, -108);
ORBA_AU_VALUE(kAudio_BadFilePathError, 0x21707468);
ORBA_AU_VALUE(kAudioUnitErr_InvalidProperty, -10879);
ORBA_AU_VALUE(kAudioUnitErr_InvalidParameter, -10878);
ORBA_AU_VALUE(kAudioUnitErr_InvalidElement, -10877);
ORBA_AU_VALUE(kAudioUnitErr_NoConnection, -10876);
ORBA_AU_VALUE(kAudioUnitErr_FailedInitialization, -10875);
ORBA_AU_VALUE(kAudioUnitErr_TooManyFramesToProcess, -10874);
ORBA_AU_VALUE(kAudioUnitErr_IllegalInstrument, -10873);
ORBA_AU_VALUE(kAudioUnitErr_InstrumentTypeNotFound, -10872);
ORBA_AU_VALUE(kAudioUnitErr_InvalidFile, -10871);
ORBA_AU_VALUE(kAudioUnitErr_UnknownFileType, -10870);
ORBA_AU_VALUE(kAudioUnitErr_FileNotSpecified, -10869);
ORBA_AU_VALUE(kAudioUnitErr_FormatNotSupported, -10868);
ORBA_AU_VALUE(kAudioUnitErr_Uninitialized, -10867);
ORBA_AU_VALUE(kAudioUnitErr_InvalidScope, -10866);
ORBA_AU_VALUE(kAudioUnitErr_PropertyNotWritable, -10865);
ORBA_AU_VALUE(kAudioUnitErr_CannotDoInCurrentContext, -10863);
ORBA_AU_VALUE(kAudioUnitErr_InvalidPropertyValue, -10851);
ORBA_AU_VALUE(kAudioUnitErr_PropertyNotInUse, -10850);
ORBA_AU_VALUE(kAudioUnitErr_Initialized, -10849);
ORBA_AU_VALUE(kAudioUnitErr_InvalidOfflineRender, -10848);
ORBA_AU_VALUE(kAudioUnitErr_Unauthorized, -10847);
ORBA_AU_VALUE(kAudioUnitErr_MIDIOutputBufferFull, -66753);
ORBA_AU_VALUE(kAudioUnitErr_RenderTimeout, -66745);
ORBA_AU_VALUE(kAudioUnitErr_ExtensionNotFound, -66744);
// Added in the 10.15 SDK; the wrapper itself never returns them.
#if ORBA_AU_SDK_VERSION >= 101500
ORBA_AU_VALUE(kAudioUnitErr_InvalidParameterValue, -66743);
ORBA_AU_VALUE(kAudioUnitErr_InvalidFilePath, -66742);
ORBA_AU_VALUE(kAudioUnitErr_MissingKey, -66741);
ORBA_AU_VALUE(kAudioComponentErr_InstanceTimedOut, -66754);
#endif
ORBA_AU_VALUE(kAudioComponentErr_InstanceInvalidated, -66749);

ORBA_AU_VALUE(kAudioUnitType_Effect, 0x61756678);
ORBA_AU_VALUE(kAudioUnitType_MusicDevice, 0x61756D75);
ORBA_AU_VALUE(kAudioUnitType_MusicEffect, 0x61756D66);
ORBA_AU_VALUE(kAudioUnitType_Output, 0x61756F75);
ORBA_AU_VALUE(kAudioUnitType_FormatConverter, 0x61756663);
ORBA_AU_VALUE(kAudioUnitType_Mixer, 0x61756D78);
ORBA_AU_VALUE(kAudioUnitType_Panner, 0x6175706E);
ORBA_AU_VALUE(kAudioUnitType_Generator, 0x6175676E);
ORBA_AU_VALUE(kAudioUnitType_OfflineEffect, 0x61756F6C);
ORBA_AU_VALUE(kAudioUnitType_MIDIProcessor, 0x61756D69);
ORBA_AU_VALUE(kAudioUnitManufacturer_Apple, 0x6170706C);

ORBA_AU_VALUE(kAudioComponentFlag_Unsearchable, 1);
ORBA_AU_VALUE(kAudioComponentFlag_SandboxSafe, 2);
ORBA_AU_VALUE(kAudioComponentFlag_IsV3AudioUnit, 4);
ORBA_AU_VALUE(kAudioComponentFlag_RequiresAsyncInstantiation, 8);
ORBA_AU_VALUE(kAudioComponentFlag_CanLoadInProcess, 0x10);
ORBA_AU_VALUE(kAudioComponentInstantiation_LoadOutOfProcess, 1);
ORBA_AU_VALUE(kAudioComponentInstantiation_LoadInProcess, 2);
ORBA_AU_VALUE(kAudioUnitParameterName_Full, -1);
ORBA_AU_VALUE(kAudioUnitClumpID_System, 0);
ORBA_AU_VALUE(kRenderQuality_Max, 127);
ORBA_AU_VALUE(kRenderQuality_High, 96);
ORBA_AU_VALUE(kRenderQuality_Medium, 64);
ORBA_AU_VALUE(kRenderQuality_Low, 32);
ORBA_AU_VALUE(kRenderQuality_Min, 0);
ORBA_AU_VALUE(kNumberOfResponseFrequencies, 1024);

ORBA_AU_VALUE(kCFStringEncodingMacRoman, 0);
ORBA_AU_VALUE(kCFStringEncodingUTF16, 0x0100);
ORBA_AU_VALUE(kCFStringEncodingASCII, 0x0600);
ORBA_AU_VALUE(kCFStringEncodingUTF8, 0x08000100);
ORBA_AU_VALUE(kCFStringEncodingInvalidId, 0xFFFFFFFF);
ORBA_AU_VALUE(kCFNotFound, -1);
ORBA_AU_VALUE(kCFCompareLessThan, -1);
ORBA_AU_VALUE(kCFCompareEqualTo, 0);
ORBA_AU_VALUE(kCFCompareGreaterThan, 1);
ORBA_AU_VALUE(kCFNumberSInt8Type, 1);
ORBA_AU_VALUE(kCFNumberSInt16Type, 2);
ORBA_AU_VALUE(kCFNumberSInt32Type, 3);
ORBA_AU_VALUE(kCFNumberSInt64Type, 4);
ORBA_AU_VALUE(kCFNumberFloat32Type, 5);
ORBA_AU_VALUE(kCFNumberFloat64Type, 6);
ORBA_AU_VALUE(kCFNumberCharType, 7);
ORBA_AU_VALUE(kCFNumberShortType, 8);
ORBA_AU_VALUE(kCFNumberIntType, 9);
ORBA_AU_VALUE(kCFNumberLongType, 10);
ORBA_AU_VALUE(kCFNumberLongLongType, 11);
ORBA_AU_VALUE(kCFNumberFloatType, 12);
ORBA_AU_VALUE(kCFNumberDoubleType, 13);
ORBA_AU_VALUE(kCFNumberCFIndexType, 14);
ORBA_AU_VALUE(kCFNumberNSIntegerType, 15);
ORBA_AU_VALUE(kCFNumberCGFloatType, 16);
ORBA_AU_VALUE(kCFNumberMaxType, 16);

#undef ORBA_AU_LAYOUT
#undef ORBA_AU_AT
#undef ORBA_AU_VALUE
#undef ORBA_AU_SAME

}  // namespace orba::au::abi_check

#if defined(__GNUC__) || defined(__clang__)
#pragma GCC diagnostic pop
#endif
