// The lists of moves and deletions that Windows carries out at the next restart, as the
// registry holds them (a REG_MULTI_SZ value that other programs write too): read from the bytes
// alone, with no knowledge of the registry, the log or the package.
#ifndef ACTIONS_RESTART_LIST_H
#define ACTIONS_RESTART_LIST_H

// One entry: a move of `source` onto `dest`, or its deletion when `dest` is empty. Both point
// into the bytes read.
struct RestartListEntry {
  const char* source;
  const char* dest;  // without the "!" that marks a move replacing what is there
  int replace;
};

// Whether the bytes are in the form Windows writes: pairs of strings (a source, then its
// destination or an empty string for a deletion), each ended by its NUL, then the empty string
// that ends the list and the value. No bytes at all are an empty list.
int IsCanonicalRestartList(const char* data, unsigned long size);

// The entry at *at, which then moves past it. Returns 0 at the end of the list, or where no
// whole entry is left in the bytes.
int NextRestartListEntry(const char* data, unsigned long size, unsigned long* at,
                         RestartListEntry* entry);

#endif
