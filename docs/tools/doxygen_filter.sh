#!/bin/sh
# Doxygen's input filter for the public headers: their comments are plain
# block comments, each taken as the documentation of what follows it; the
# macros over the *_sized functions are left out, the function of the same
# name being the one documented.
sed -e 's|^\([ ]*\)/\* |\1/** |' -e '/^#define tav_[a-z_]*(.*\\$/{N;/_sized(/d;}' -e '/^#define tav_[a-z_]*(.*_sized(/d' "$1"
