/* Included before pa_win_wasapi.c when building PortAudio with mingw-w64: the WASAPI headers
   that the source includes only for Microsoft's compiler (and under mixed-case names that a
   case-sensitive file system does not find). Their include guards make the source's own
   includes of them no-ops. */
#include <windows.h>
#include <mmreg.h>
#include <avrt.h>
#define COBJMACROS
#include <audioclient.h>
#include <endpointvolume.h>
#define INITGUID
#include <mmdeviceapi.h>
#include <functiondiscoverykeys_devpkey.h>
#include <devicetopology.h>
#undef INITGUID
