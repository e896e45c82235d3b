// A stand-in program for testing the harness: prints its argument count and vector.
#include <cstdio>

int main(int argc, char** argv)
{
    std::printf("argc=%d\n", argc);
    for (int i = 0; i < argc; ++i)
        std::printf("%s\n", argv[i]);
    return 0;
}
