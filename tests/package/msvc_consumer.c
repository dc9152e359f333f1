/* A program of the MSVC ABI without any C runtime: it links the DLL through the MSVC-style
 * import library and calls it as a game built with MSVC would. */
#include <stddef.h>

typedef void* HANDLE;
typedef unsigned long DWORD;

__declspec(dllimport) HANDLE __stdcall GetStdHandle(DWORD which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void* data, DWORD size,
                                              DWORD* written, void* overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);

struct OrbaPluginInterface {
    void (*triggerEventCallback)(const char* command);
};
__declspec(dllimport) const struct OrbaPluginInterface* createOrbaPluginInterface(void);

static void say(const char* text) {
    DWORD length = 0;
    DWORD written = 0;
    while (text[length] != '\0') ++length;
    WriteFile(GetStdHandle((DWORD)-11), text, length, &written, NULL);
}

static int run(void) {
    const struct OrbaPluginInterface* plugin = createOrbaPluginInterface();
    if (plugin == NULL || plugin->triggerEventCallback == NULL ||
        plugin != createOrbaPluginInterface()) {
        say("msvc consumer: no usable interface record\n");
        return 1;
    }
    plugin->triggerEventCallback("{\"event\":");
    plugin->triggerEventCallback("{\"event\":\"SendEvent\",\"body\":{\"eventName\":\"level_up\"}}");

    /* C interface: orba_get_os_version, orba_base64_encode and orba_free go here once the
     * library exports them. */

    say("msvc consumer: commands delivered\n");
    return 0;
}

void mainCRTStartup(void) { ExitProcess((unsigned int)run()); }
