// The host side of AudioToolbox: each call reaches the unit the way the
// system's does, through the method its Lookup returns for the call's
// selector, with the unit's `self` first and the arguments unchanged. Here a
// unit handle is the component's AudioComponentPlugInInterface itself.

#include "orba/au/sys.h"

namespace {

AudioComponentPlugInInterface* interface_of(AudioComponentInstance unit) {
    return reinterpret_cast<AudioComponentPlugInInterface*>(unit);
}

AudioComponentMethod method(AudioComponentPlugInInterface* unit, int selector) {
    if (unit->Lookup == nullptr) return nullptr;
    return unit->Lookup(static_cast<SInt16>(selector));
}

// Calls the unit's method for `selector` through its exact prototype
// OSStatus(void* self, Args...): never through the variadic carrier type.
template <class... Args>
OSStatus call(AudioComponentInstance instance, int selector, Args... args) {
    if (instance == nullptr) return kAudio_ParamError;
    AudioComponentPlugInInterface* unit = interface_of(instance);
    const AudioComponentMethod m = method(unit, selector);
    if (m == nullptr) return kAudio_UnimplementedError;
    using Method = OSStatus (*)(void*, Args...);
    return reinterpret_cast<Method>(m)(unit, args...);
}

}  // namespace

extern "C" {

OSStatus AudioUnitInitialize(AudioUnit inUnit) {
    return call(inUnit, kAudioUnitInitializeSelect);
}

OSStatus AudioUnitUninitialize(AudioUnit inUnit) {
    return call(inUnit, kAudioUnitUninitializeSelect);
}

OSStatus AudioUnitGetPropertyInfo(AudioUnit inUnit, AudioUnitPropertyID inID,
                                  AudioUnitScope inScope, AudioUnitElement inElement,
                                  UInt32* outDataSize, Boolean* outWritable) {
    return call(inUnit, kAudioUnitGetPropertyInfoSelect, inID, inScope, inElement, outDataSize,
                outWritable);
}

OSStatus AudioUnitGetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, void* outData, UInt32* ioDataSize) {
    return call(inUnit, kAudioUnitGetPropertySelect, inID, inScope, inElement, outData, ioDataSize);
}

OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, UInt32 inDataSize) {
    return call(inUnit, kAudioUnitSetPropertySelect, inID, inScope, inElement, inData, inDataSize);
}

OSStatus AudioUnitAddPropertyListener(AudioUnit inUnit, AudioUnitPropertyID inID,
                                      AudioUnitPropertyListenerProc inProc, void* inProcUserData) {
    return call(inUnit, kAudioUnitAddPropertyListenerSelect, inID, inProc, inProcUserData);
}

OSStatus AudioUnitRemovePropertyListenerWithUserData(AudioUnit inUnit, AudioUnitPropertyID inID,
                                                     AudioUnitPropertyListenerProc inProc,
                                                     void* inProcUserData) {
    return call(inUnit, kAudioUnitRemovePropertyListenerWithUserDataSelect, inID, inProc,
                inProcUserData);
}

OSStatus AudioUnitAddRenderNotify(AudioUnit inUnit, AURenderCallback inProc, void* inProcUserData) {
    return call(inUnit, kAudioUnitAddRenderNotifySelect, inProc, inProcUserData);
}

OSStatus AudioUnitRemoveRenderNotify(AudioUnit inUnit, AURenderCallback inProc,
                                     void* inProcUserData) {
    return call(inUnit, kAudioUnitRemoveRenderNotifySelect, inProc, inProcUserData);
}

OSStatus AudioUnitGetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue* outValue) {
    return call(inUnit, kAudioUnitGetParameterSelect, inID, inScope, inElement, outValue);
}

OSStatus AudioUnitSetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue inValue,
                               UInt32 inBufferOffsetInFrames) {
    return call(inUnit, kAudioUnitSetParameterSelect, inID, inScope, inElement, inValue,
                inBufferOffsetInFrames);
}

OSStatus AudioUnitScheduleParameters(AudioUnit inUnit,
                                     const AudioUnitParameterEvent* inParameterEvent,
                                     UInt32 inNumParamEvents) {
    return call(inUnit, kAudioUnitScheduleParametersSelect, inParameterEvent, inNumParamEvents);
}

OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                         UInt32 inNumberFrames, AudioBufferList* ioData) {
    return call(inUnit, kAudioUnitRenderSelect, ioActionFlags, inTimeStamp, inOutputBusNumber,
                inNumberFrames, ioData);
}

OSStatus AudioUnitReset(AudioUnit inUnit, AudioUnitScope inScope, AudioUnitElement inElement) {
    return call(inUnit, kAudioUnitResetSelect, inScope, inElement);
}

OSStatus MusicDeviceMIDIEvent(MusicDeviceComponent inUnit, UInt32 inStatus, UInt32 inData1,
                              UInt32 inData2, UInt32 inOffsetSampleFrame) {
    return call(inUnit, kMusicDeviceMIDIEventSelect, inStatus, inData1, inData2,
                inOffsetSampleFrame);
}

OSStatus MusicDeviceSysEx(MusicDeviceComponent inUnit, const UInt8* inData, UInt32 inLength) {
    return call(inUnit, kMusicDeviceSysExSelect, inData, inLength);
}

Boolean AudioComponentInstanceCanDo(AudioComponentInstance inInstance, SInt16 inSelectorID) {
    if (inInstance == nullptr) return false;
    return method(interface_of(inInstance), inSelectorID) != nullptr;
}

}  // extern "C"
