// A program that must never be started: planted where a wrongly split command
// line would find it, it leaves C:/marker.txt behind as evidence.
#include <fstream>

int main(int argc, char** argv)
{
    std::ofstream marker("C:/marker.txt");
    for (int i = 0; i < argc; ++i) {
        marker << argv[i] << '\n';
    }
    return 0;
}
