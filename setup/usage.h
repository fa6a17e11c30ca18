// The usage text that /? and -? print.
#ifndef SETUP_USAGE_H
#define SETUP_USAGE_H

extern const char UsageText[];

// Prints the usage text, whatever the output switches say: it was asked for.
void PrintUsage(void);

#endif
