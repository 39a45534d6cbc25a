// The receiver input: opening the source, polling it in chunks, cutting
// sentences, recording and replaying traces.
#include "engine/core/GPSCore.h"

// ---- to be written ----
BOOL GPSCore::StartGPSReceiver(SHORT) { return FALSE; }
BOOL GPSCore::OpenGPSSource(SHORT) { return FALSE; }
BOOL GPSCore::EnumerateGPSPorts(SHORT&) { return FALSE; }
BOOL GPSCore::OpenSerialPort(HANDLE&, std::u16string_view, SHORT, DWORD) { return FALSE; }
BOOL GPSCore::CloseGPSHandle(HANDLE&) { return FALSE; }
void GPSCore::InitGPSPortState() {}
BOOL GPSCore::PollGPSInput() { return FALSE; }
BOOL GPSCore::ReadGPSInput(HANDLE&, char*, DWORD, DWORD&, BYTE&, bool, CGPSObject*) { return FALSE; }
BOOL GPSCore::AssembleNMEASentences(const char*, DWORD, char*, DWORD, DWORD&, BYTE&, CGPSObject*) { return FALSE; }
void GPSCore::ExtractAnnotation(const char*, DWORD) {}
HRESULT GPSCore::GPSExternalNmeaDataUpdate(BSTR) { return E_NOTIMPL; }
HRESULT GPSCore::GPSStartRecording(BSTR) { return E_NOTIMPL; }
HRESULT GPSCore::GPSStopRecording() { return S_OK; }
HRESULT GPSCore::GPSInsertAnnotationIntoRecording(BSTR) { return E_NOTIMPL; }
