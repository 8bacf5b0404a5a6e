#pragma once

/* The audit-log library: three plain C functions, called as a triple for each event
 * (dlog_init with the gap's address, one dlog, dlog_destroy). Events are stored in an SQLite
 * database, the file named by DLOG_DB or "audit.db" in the working directory. No call ever fails
 * the caller: an event that cannot be stored is dropped and reported on stderr. */

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the gap address of the calling thread's current event. */
void dlog_init(const char *gapAddress);

/* Stores one event. outcome: 1 success, 0 failure. Texts are stored byte for byte; detail is
 * plain text, never a format. Arguments after detail are accepted and ignored. */
void dlog(const char *category, const char *user, const char *operation, int outcome,
    const char *detail, ...);

/* Ends the calling thread's current event. */
void dlog_destroy(void);

#ifdef __cplusplus
}
#endif
