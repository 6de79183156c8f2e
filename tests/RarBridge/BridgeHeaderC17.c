/* The bridge's interface header is a C interface: it must compile as strict
 * C17, and its example must too. */
#include <stdio.h>

#include "RarBridge/tovani_bridge.h"

int tovani_bridge_header_example(void);

int tovani_bridge_header_example(void) {
    tovani_archive* a = NULL;
    tovani_archive_info info;
    if (tovani_open("/tmp/a.rar", false, NULL, &a, &info) == TOVANI_OK) {
        tovani_entry e;
        while (tovani_read_entry(a, &e) == TOVANI_OK) {
            puts(e.name_utf8);
            if (tovani_skip_entry(a) != TOVANI_OK) break;
        }
        tovani_close(a);
    }
    return 0;
}
