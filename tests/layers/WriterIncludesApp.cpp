// Built only by the layering test: writers/ sits below app/, so this include
// must not be found.
#include "app/Recorder.h"
#include "writers/MovieWriter.h"
