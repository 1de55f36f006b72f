#!/usr/bin/env bash
# nasm for libjpeg-turbo's SIMD code: --reproducible keeps the source's
# name (an absolute path in the build folder) out of the objects, whose .file
# symbols would carry it into the debug files; nasm has no prefix map.
exec nasm --reproducible "$@"
