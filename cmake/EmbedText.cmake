# Turns a text file into a C++ source that defines kestrin::kCatalogueText
# (the bytes) and kestrin::kCatalogueTextSize, so the catalogue travels
# inside the program whatever the platform.
file(READ ${INPUT} HEX_CONTENT HEX)
string(LENGTH "${HEX_CONTENT}" HEX_LENGTH)
math(EXPR BYTE_COUNT "${HEX_LENGTH} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," BYTES "${HEX_CONTENT}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" BYTES "${BYTES}")
file(WRITE ${OUTPUT}
"// Generated from ${INPUT}; do not edit.\n#include <cstddef>\nnamespace kestrin {\nextern const unsigned char kCatalogueText[];\nextern const std::size_t kCatalogueTextSize;\nconst unsigned char kCatalogueText[] = {\n${BYTES}\n};\nconst std::size_t kCatalogueTextSize = ${BYTE_COUNT};\n}\n")
