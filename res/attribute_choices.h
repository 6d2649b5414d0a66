// The attribute choices a maker picks from for a predefined set, in the
// order of the builder's combo boxes: the word oempack and the manifest
// take, the text shown, that text's length with its NUL (the template's
// initialisation data counts it), and the file attribute bits.  A list
// macro, not a table, because the resource script expands it once for each
// model's combo box: ATTRIBUTE_CHOICES(X, arg) calls X(arg, word, shown,
// length, bits) for each choice.
#pragma once

#define ATTRIBUTE_CHOICES(X, arg)     \
  X(arg, "normal", "Normal", 7, 0x80) \
  X(arg, "ronly", "R only", 7, 0x01)  \
  X(arg, "hidden", "Hidden", 7, 0x02) \
  X(arg, "rh", "R&H", 4, 0x03)
