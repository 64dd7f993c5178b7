/* A host linked against an import library of tovarine.dll, calling the exports through the
 * header's declarations as a server built that way does. Exits 0 when every call gave what the
 * library documents. */
#include <stdio.h>
#include <string.h>

#include <tovarine.h>

int main(void) {
    int failures = 0;
    int32_t server = 1, device = 0, timeout = 10000, mozilla = 0;
    int32_t features = 0, sendtime = 0, sendstate = 0, cpid = 0, slide_show = 0;
    double framerate = 25.0;
    char *names[] = {"a", "b"};
    char *values[] = {"1", "2"};
    const char *found;
    MediaRequest record;

    f3121538644("?server=2&device=1&timeout=30 HTTP/1.1\r\nUser-Agent: Mozilla/5.0\r\n", &server,
                &device, &framerate, &timeout, &mozilla, &features, &sendtime, &sendstate, &cpid,
                &slide_show);
    if (server != 2 || device != 1 || timeout != 30000 || mozilla != 1) {
        printf("live reader: server %d device %d timeout %d mozilla %d\n", (int)server, (int)device,
               (int)timeout, (int)mozilla);
        ++failures;
    }
    found = f385562("b", 2, names, values);
    if (found == NULL || strcmp(found, "2") != 0) {
        printf("lookup of b: %s\n", found ? found : "(null)");
        ++failures;
    }
    memset(&record, 0, sizeof record);
    f39260000417E("?mediafile=clip%20one.mp4&width=640", &record);
    if (strcmp(record.media_file, "clip one.mp4") != 0 || record.width != 640) {
        printf("clip reader: '%s' width %d\n", record.media_file, (int)record.width);
        ++failures;
    }
    if (f9832144782(3) != 0 || f9832144782(0) != 3) {
        printf("selector did not round-trip\n");
        ++failures;
    }
    printf("sizeof(void*)=%u, %d failure(s)\n", (unsigned)sizeof(void *), failures);
    return failures == 0 ? 0 : 1;
}
