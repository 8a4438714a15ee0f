/* Force-included into the widl-generated proxy/stub sources (C).
 *
 * MinGW's unknwn.h declares the IUnknown proxy functions that the generated
 * vtables name only for C++; rpcrt4 exports them. */
#ifndef CORVANE_PLATFORM_WIN32_PROXY_DECLARATIONS_H_
#define CORVANE_PLATFORM_WIN32_PROXY_DECLARATIONS_H_

#ifndef __cplusplus
#include <unknwn.h>

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid,
                                                        void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);
#endif

#endif /* CORVANE_PLATFORM_WIN32_PROXY_DECLARATIONS_H_ */
