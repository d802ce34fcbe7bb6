// Banner and feature list of the matching engines, printed by the programs' -version.
#pragma once

// "libmervo 64bit, compiled on <date> at <time>": the engines' banner line as the programs
// have always printed it, with the engines' own build date and time.
const char *enginebanner();
// The engines' feature list.
const char *enginefeatures();
