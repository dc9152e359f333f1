/* A host written in C: the interface header compiles as strict C99 and links by plain names. */
#include <stdio.h>
#include <string.h>

#include "orba/orba.h"

static int failures = 0;

static void expect(int condition, const char* what) {
    if (!condition) {
        printf("failed: %s\n", what);
        ++failures;
    }
}

int main(void) {
    size_t size = 0;
    size_t count = 0;
    char* text;
    orba_string* fields;

    expect(strlen(orba_version()) > 0, "version");
    expect(createOrbaPluginInterface() == createOrbaPluginInterface(), "one record");
    expect(createOrbaPluginInterface()->triggerEventCallback != NULL, "command function");

    text = orba_base64_encode("foo", 3);
    expect(text != NULL && strcmp(text, "Zm9v") == 0, "base64");
    orba_free(text);

    text = orba_hex_str_to_str("610062", 6, &size);
    expect(text != NULL && size == 3 && memcmp(text, "a\0b", 4) == 0, "bytes with NUL");
    orba_free(text);

    fields = orba_split_string("a,,b", 4, ',', &count);
    expect(fields != NULL && count == 3 && fields[2].size == 1 && strcmp(fields[2].data, "b") == 0,
           "split");
    orba_free(fields);

    expect(orba_get_random_data(UINT64_MAX) == NULL, "failure value");
    expect(orba_last_error_kind() == ORBA_ERROR_LENGTH, "last error kind");
    text = orba_get_platform();
    expect(orba_last_error_kind() == ORBA_ERROR_NONE && text != NULL, "cleared last error");
    orba_free(text);
    return failures == 0 ? 0 : 1;
}
