#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# SPDX-FileCopyrightText: 2026 The Corla developers
# Renders the icon sources in this folder to the PNG files the resource
# collection names. The PNGs are committed, so a build needs no renderer;
# run this again after editing an icon. Needs rsvg-convert (librsvg2-bin).
set -eu
cd "$(dirname "$0")"
out=../img
mkdir -p "$out"

render() { # source size target
    rsvg-convert -w "$2" -h "$2" "$1" -o "$out/$3"
}

render refresh.svg   64 Refresh_flat_64px_1.png
render clear.svg     64 clear_2_64px.png
render export.svg    48 export_2_48px.png
render gear_blue.svg 48 gear_blue_48px_1.png
render gear_grey.svg 48 gear_grey_48px.png
render restart.svg   52 Restart_52px_1.png
render settings.svg  52 "Settings 3_52px.png"
render globe.svg     64 globe_64.png

# A preview of the logo at the size of the main window's button, for checking
# legibility; not part of the resources.
if [ "${1:-}" = "--preview" ]; then
    rsvg-convert -w 115 -h 45 ../brand/corla-logo-horizontal.svg -o "${TMPDIR:-/tmp}/corla-logo-115x45.png"
fi
