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
__declspec(dllimport) char* orba_get_os_version(void);
__declspec(dllimport) char* orba_base64_encode(const void* data, size_t size);
__declspec(dllimport) void orba_free(void* pointer);

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

    {
        static const char expected[] = "Z2FtZQBkYXRh";
        char* encoded = orba_base64_encode("game\0data", 9);
        char* version = orba_get_os_version();
        size_t i = 0;
        if (encoded == NULL || version == NULL || version[0] == '\0') {
            say("msvc consumer: the C interface gave no answer\n");
            return 1;
        }
        for (i = 0; i < sizeof expected; ++i) {
            if (encoded[i] != expected[i]) {
                say("msvc consumer: base64 gave the wrong text\n");
                return 1;
            }
        }
        say("msvc consumer: OS version ");
        say(version);
        say("\n");
        orba_free(encoded);
        orba_free(version);
    }

    say("msvc consumer: commands delivered\n");
    return 0;
}

void mainCRTStartup(void) { ExitProcess((unsigned int)run()); }
