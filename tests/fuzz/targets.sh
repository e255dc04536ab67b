# Fuzz targets of the net and zip subsystems (sourced by scripts/fuzz.sh).
# shellcheck shell=bash
platform_sources="platform/CodePage.cpp platform/Paths.cpp platform/AppDir_linux.cpp platform/FileSystem_posix.cpp platform/Clock.cpp platform/BinaryFile_posix.cpp"
net_sources="net/Psock.cpp net/SockError.cpp net/ThreadTimer.cpp net/SocketEvents.cpp net/Nmftp.cpp"
zip_sources="zip/Archive.cpp zip/TZip.cpp zip/MemberName.cpp zip/RawDeflater.cpp zip/ZipRecords.cpp zip/ZipTimes.cpp"
sources[ftp_reply]="tests/fuzz/ftp_reply_fuzz.cpp $net_sources $platform_sources"
sources[pasv]="tests/fuzz/pasv_fuzz.cpp $net_sources $platform_sources"
sources[zip_roundtrip]="tests/fuzz/zip_roundtrip_fuzz.cpp $zip_sources $platform_sources"
extra_libs[ftp_reply]="-lpthread"
extra_libs[pasv]="-lpthread"
extra_libs[zip_roundtrip]="-lz"
