# Sources and settings of this area; included by the top-level CMakeLists.txt.
