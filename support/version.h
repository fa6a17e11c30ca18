// The version of the package: SETUP.EXE, the libraries and the tools carry the same.
#ifndef SUPPORT_VERSION_H
#define SUPPORT_VERSION_H

#define SETUP_VERSION_MAJOR 2
#define SETUP_VERSION_MINOR 1
#define SETUP_VERSION_NUMBERS SETUP_VERSION_MAJOR,SETUP_VERSION_MINOR,0,0
#define SETUP_VERSION "2.1.0.0"

#endif
