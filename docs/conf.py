# The documentation site: the guides (Markdown, docs/guides/), the reference
# of the C interface and the C++ classes (Breathe over Doxygen's XML), of the
# Python package (autodoc) and of the C# binding, and the man pages.
# scripts/docs.sh builds it; run it rather than sphinx-build by hand.
import os
import sys

sys.path.insert(0, os.path.join(os.environ["TAV_SOURCE_DIR"], "python"))

project = "tavlib"
author = "the tavlib developers"
copyright = "the tavlib developers, MIT licence"
version = release = os.environ.get("TAV_VERSION", "")

extensions = ["breathe", "myst_parser", "sphinx.ext.autodoc"]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build"]
breathe_projects = {"tav": os.environ["TAV_DOXYGEN_XML"]}
breathe_default_project = "tav"
breathe_domain_by_file_pattern = {"*/tav/tav.h": "c", "*/tav/board.hpp": "cpp", "*/TAVLib.h": "cpp"}
autodoc_member_order = "bysource"
autodoc_typehints = "description"
myst_heading_anchors = 3
html_theme = "alabaster"
html_title = f"tavlib {release}"
html_theme_options = {"description": "Drive the TAV USB input/output board", "fixed_sidebar": True}
suppress_warnings = ["myst.xref_missing"]
