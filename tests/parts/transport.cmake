# Tests of this area; included by tests/CMakeLists.txt.
