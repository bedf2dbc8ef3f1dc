# SPDX-License-Identifier: Apache-2.0
# SPDX-FileCopyrightText: 2026 The Corla developers
# The Debian package of all three programs: `make package` builds it with CPack's DEB
# generator into build/corla_<version>_<arch>.deb. Its dependencies come from
# dpkg-shlibdeps, so that they follow the libraries the programs really link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corla)
set(CPACK_PACKAGE_VENDOR "Corla developers")
set(CPACK_PACKAGE_CONTACT "Corla developers <corla@example.org>")
# No Homepage field until there is a web site (CORLA_HOMEPAGE, packaging/CMakeLists.txt).
if(CORLA_HOMEPAGE)
    set(CPACK_PACKAGE_HOMEPAGE_URL "${CORLA_HOMEPAGE}")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and set up networked underwater acoustic instruments")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${CMAKE_CURRENT_LIST_DIR}/description.txt)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian ships programs without debugging symbols, and lintian says so.
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Corla developers <corla@example.org>")
# A tool for setting up devices on the network, as the other network setup tools are.
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Added to what dpkg-shlibdeps finds: the logo in the about box is an SVG that Qt reads
# through an image-format plugin, which no linked library reveals.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5svg5")
# The window opens a device's web page in the desktop's browser through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)
