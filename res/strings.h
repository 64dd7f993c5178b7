/* The library's string table: one source for the Windows resource script and the POSIX
 * stand-in. Language: English (United States). */
#ifndef TOVARINE_RES_STRINGS_H
#define TOVARINE_RES_STRINGS_H

/* Message word of a save, for a setting the key doesn't hold yet. */
#define IDS_SAVING_AS 3
#define IDS_SAVING_AS_TEXT "saving as "

/* Message word of a load, for a setting the key doesn't hold. */
#define IDS_WILL_BE 4
#define IDS_WILL_BE_TEXT "will be "

#endif
