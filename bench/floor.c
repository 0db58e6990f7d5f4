/* The floor: the least a listing can cost. Opens an image, reads it whole with
   one read and prints one line. Built as C (C library only) and as C++ (with
   the C++ runtime linked statically, dynamically, and fully static) by run.sh,
   so that kestrel's figures can be read against what start-up alone costs.
   The C++ form holds the image in a std::vector as kestrel does; its zero
   fill is one rep stosb, which callgrind counts as one instruction a byte. */
#include <stdio.h>
#include <stdlib.h>

#ifdef __cplusplus
#include <vector>
#endif

int main(int argc, char **argv) {
    if (argc != 2) return 1;
    FILE *file = fopen(argv[1], "rb");
    if (!file) return 1;
#ifdef __cplusplus
    std::vector<unsigned char> image(174848); /* pulls in the C++ runtime */
    size_t got = fread(image.data(), 1, image.size(), file);
#else
    static unsigned char image[174848];
    size_t got = fread(image, 1, sizeof image, file);
#endif
    fclose(file);
    printf("%zu bytes read\n", got);
    return 0;
}
