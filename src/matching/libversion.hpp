// Banner and feature list of the matching library, printed by the programs' -version.
#pragma once

// "libmervo 64bit, compiled on <date> at <time>", with the library's own build date and time.
const char *libmervobanner();
// The library's feature list.
const char *libmervofeatures();
