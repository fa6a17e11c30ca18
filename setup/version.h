// The version of the package: SETUP.EXE, the libraries and the tools carry the same.
#ifndef SETUP_VERSION_H
#define SETUP_VERSION_H

#define SETUP_VERSION_NUMBERS 2,1,0,0
#define SETUP_VERSION "2.1.0.0"

#endif
