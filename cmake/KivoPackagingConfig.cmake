# Read by cpack while it packages (CPACK_PROJECT_CONFIG_FILE of cmake/KivoPackaging.cmake).
# Each package's description names its own summary in its first line; without this, the
# project's description would stand before every one of them.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
