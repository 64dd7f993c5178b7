/*
 * sample_server: a small server that keeps its settings through the library, as the servers of
 * the family do. It answers the library's message boxes itself from a script of the boxes it
 * expects, prints each one, and checks that what it loads is what it saved.
 *
 * Usage: sample_server [SETTINGS_NAME]   (default "Sample Server")
 * The settings root must exist ('tovarine settings init'). On the first run (no instance of the
 * name saved yet) it saves, changes, saves again and loads; on a later run it loads what is saved
 * and checks it against a silent load of the saved instance.
 * Exit status: 0 when every step went as expected, 1 otherwise, 2 for a bad command line.
 */
#include <stdio.h>
#include <string.h>

#include <tovarine.h>

/* The Win32 message box codes the handler sees and answers with. */
#define BOX_BUTTONS 0xFu
#define BOX_YESNO 0x4u
#define ANSWER_OK 1
#define ANSWER_YES 6
#define ANSWER_NO 7

/* The server's settings. */
static int32_t port;
static char title[64];
static unsigned char key[8];

static SettingDescriptor settings[] = {
    {"port", 4, sizeof port, &port, NULL},
    {"title", 1, sizeof title, title, NULL},
    {"key", 3, sizeof key, key, NULL},
    {NULL, 0, 0, NULL, NULL},
};

/* One box the server expects: its caption, a line its text must hold, and the answer. */
struct ExpectedBox {
    const char *caption;
    const char *holds;
    int answer;
};

struct Script {
    const struct ExpectedBox *boxes;
    int count;
    int shown;
    int faults;
    /* Set when the start-up load found saved settings: a later run, which loads them. */
    int later_run;
};

static void fault(struct Script *script, const char *what) {
    fflush(stdout); /* after the box it is about, when both go to one place */
    fprintf(stderr, "sample_server: %s\n", what);
    ++script->faults;
}

static int answer_box(void *context, HWND owner, const char *text, const char *caption,
                      unsigned int type) {
    struct Script *script = context;
    const int yes_no = (type & BOX_BUTTONS) == BOX_YESNO;
    const struct ExpectedBox *expected =
        script->shown < script->count ? &script->boxes[script->shown] : NULL;
    const char *line;
    int answer = yes_no ? ANSWER_NO : ANSWER_OK;
    (void)owner;
    ++script->shown;

    printf("  [%s] (%s)\n", caption, yes_no ? "Yes/No" : "OK");
    for (line = text; *line != '\0';) {
        const size_t length = strcspn(line, "\n");
        printf("  | %.*s\n", (int)length, line);
        line += length + (line[length] == '\n');
    }
    if (script->shown == 1 && strcmp(caption, "Update from Registry?") == 0) {
        /* The start-up load lists what a run before saved: take it. */
        script->later_run = 1;
        answer = ANSWER_YES;
    } else if (expected == NULL) {
        fault(script, "a message box came that the server did not expect");
    } else if (strcmp(caption, expected->caption) != 0 || strstr(text, expected->holds) == NULL) {
        fault(script, "the message box is not the one the server expected");
    } else {
        answer = expected->answer;
    }
    printf("  -> %s\n", answer == ANSWER_YES ? "Yes" : answer == ANSWER_NO ? "No" : "OK");
    return answer;
}

static void print_settings(void) {
    int i;
    printf("  port=%d title=\"%s\" key=", (int)port, title);
    for (i = 0; i < (int)sizeof key; ++i) printf("%02x", key[i]);
    printf("\n");
}

static void set_settings(int32_t new_port, const char *new_title, const unsigned char *new_key) {
    port = new_port;
    memset(title, 0, sizeof title);
    strncpy(title, new_title, sizeof title - 1);
    memcpy(key, new_key, sizeof key);
}

static int same_settings(int32_t want_port, const char *want_title, const unsigned char *want_key) {
    return port == want_port && strcmp(title, want_title) == 0 &&
           memcmp(key, want_key, sizeof key) == 0;
}

/* Blanks the settings and loads saved instance 1 silently (the instance selector set), as a
 * server started without its user at hand would, after telling `what` it does. */
static void blank_silent_load(const char *name, const char *what) {
    static const unsigned char kZeros[8] = {0};
    int32_t selector;
    printf("%s: %s\n", name, what);
    set_settings(0, "", kZeros);
    selector = f9832144782(1);
    qy45AF(NULL, name, settings);
    f9832144782(selector);
    print_settings();
}

static const char kUsage[] =
    "Usage: sample_server [SETTINGS_NAME]\n"
    "A small server that keeps its settings (port, title, key) through the tovarine library\n"
    "under the settings name SETTINGS_NAME (default \"Sample Server\"), answering the\n"
    "library's message boxes itself and printing each one.\n"
    "First run (nothing saved under the name): saves, changes and saves again, then loads.\n"
    "Later runs: load what is saved and check it against a silent load of instance 1.\n"
    "The settings root must exist: 'tovarine settings init' creates it.\n"
    "Exit status: 0 when every step went as expected, 1 otherwise, 2 for a bad command line.\n";

/* A later run: the start-up load took what is saved; a silent load of the saved instance into
 * blank settings must give the same. */
static int check_later_run(struct Script *script, const char *name) {
    int32_t loaded_port = port;
    char loaded_title[sizeof title];
    unsigned char loaded_key[sizeof key];
    memcpy(loaded_title, title, sizeof title);
    memcpy(loaded_key, key, sizeof key);
    print_settings();

    blank_silent_load(name, "blank, silent load of saved instance 1");
    if (!same_settings(loaded_port, loaded_title, loaded_key)) {
        fault(script, "the silent load gave other settings than the start-up load");
    }
    tovarine_set_message_box_handler(NULL, NULL);
    printf("%s: %s\n", name, script->faults == 0 ? "done" : "FAILED");
    return script->faults == 0 ? 0 : 1;
}

int main(int argc, char **argv) {
    static const unsigned char kKey[8] = {0x5a, 0x17, 0x00, 0xc3, 0x9e, 0x42, 0x01, 0xff};
    static const unsigned char kZeros[8] = {0};
    static const char kMovedTitle[] = "Sample Server, east wing";
    const char *name = argc > 1 ? argv[1] : "Sample Server";
    const struct ExpectedBox boxes[] = {
        {"Load Settings", "No settings yet saved for ", ANSWER_OK},
        {"Update Registry?", "port saving as ", ANSWER_YES},
        {"Update Registry?", "port changing from 8080 to 9090", ANSWER_YES},
        {"Update from Registry?", "port changing from 0 to 9090", ANSWER_YES},
    };
    struct Script script = {boxes, (int)(sizeof boxes / sizeof boxes[0]), 0, 0, 0};
    int32_t rc;

    if (argc > 1 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (argc > 2 || (argc > 1 && argv[1][0] == '-')) {
        fputs("sample_server: a bad command line; try 'sample_server --help'\n", stderr);
        return 2;
    }

    tovarine_set_message_box_handler(answer_box, &script);
    set_settings(8080, "Sample Server", kKey);

    printf("%s: load at start-up\n", name);
    rc = qy45AF(NULL, name, settings);
    if (rc != 0) {
        fprintf(stderr,
                "sample_server: cannot open the settings root (error %d); an installer creates "
                "it: run 'tovarine settings init'\n",
                (int)rc);
        return 1;
    }
    /* No box at all: what is saved equals the start-up settings, so it was saved before too. */
    if (script.later_run || script.shown == 0) return check_later_run(&script, name);
    if (!same_settings(8080, "Sample Server", kKey)) {
        fault(&script, "a load with nothing saved changed the settings");
    }

    printf("%s: save\n", name);
    print_settings();
    qy70EE(NULL, name, settings);

    printf("%s: move to port 9090, retitle, save again\n", name);
    set_settings(9090, kMovedTitle, kKey);
    qy70EE(NULL, name, settings);

    printf("%s: restart with blank settings and load\n", name);
    set_settings(0, "", kZeros);
    qy45AF(NULL, name, settings);
    print_settings();
    if (!same_settings(9090, kMovedTitle, kKey)) {
        fault(&script, "the load did not restore what was saved");
    }

    blank_silent_load(name, "blank again, silent load of saved instance 1");
    if (!same_settings(9090, kMovedTitle, kKey)) {
        fault(&script, "the silent load did not restore what was saved");
    }

    tovarine_set_message_box_handler(NULL, NULL);
    if (script.shown != script.count) fault(&script, "fewer message boxes came than expected");
    printf("%s: %s\n", name, script.faults == 0 ? "done" : "FAILED");
    return script.faults == 0 ? 0 : 1;
}
