// A plug-in library as the engine loads them: C exports looked up by name.
// The call counter shows whether a load is a fresh instance.

namespace {
int calls = 0;
}

extern "C" {

__attribute__((visibility("default"))) const char* Signature() { return "Test plug-in"; }

__attribute__((visibility("default"))) const char* Entree(const char* path) { return path && *path ? "xyz" : ""; }

__attribute__((visibility("default"))) int Calls() { return ++calls; }

}
