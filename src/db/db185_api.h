// The Berkeley DB 1.85 interface (dbopen and its B-tree), included through this header only:
// the library's header expects the BSD integer names to exist already.
#pragma once

#include <sys/types.h>

typedef unsigned int u_int;
typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned long u_long;

#include <db_185.h>
