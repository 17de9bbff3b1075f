# Writes the bytes of IN as a C array `fixtureDocument` with its size into OUT.
file(READ ${IN} bytes HEX)
string(LENGTH "${bytes}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," array "${bytes}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n"
       array "${array}")
file(WRITE ${OUT} "#include <stddef.h>\nconst unsigned char fixtureDocument[] = {\n${array}\n};\n"
     "const size_t fixtureDocumentSize = ${size};\n")
