// The test framework's precompiled header is built with this empty file.
