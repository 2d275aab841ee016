// The benchmark's own stand-in for the viewer: it exits at once, so that a
// measured export pays only for starting it.
int main() { return 0; }
