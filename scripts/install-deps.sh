#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need, when any is missing.
# As root it runs apt-get; otherwise it prints the command to run and fails.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev sqlite3          # job tracker stand-in, sample database
  gettext                         # msgfmt --check of the translation catalogues
  locales                         # localedef: the log test builds a Turkish locale of its own
  libuchardet-dev                 # encoding sniffer
  libcups2-dev cups cups-client   # print submission, and the CUPS server the tests print to
  ghostscript                     # rendering the report into PDF and PNG, and checking it
  fonts-ipafont-mincho fonts-ipafont-gothic fonts-arphic-uming fonts-arphic-ukai fonts-nanum
                                  # the Japanese, Chinese and Korean printer fonts' stand-ins
  poppler-utils perl              # the template checks read the PDF's text back (pdftotext)
  libgtest-dev libgmock-dev libbenchmark-dev
  sed                             # the benchmark compares the stream editor with GNU sed
  clang libclang-rt-14-dev        # fuzz targets: clang with the libFuzzer and sanitizer runtimes
  clang-format clang-tidy         # make lint: the layout and the static checks
  dpkg-dev file                   # make package: dpkg-shlibdeps finds the packages' dependencies
)

. "$(dirname "$0")/apt-packages.sh"
install_missing_packages "" "${packages[@]}"
