"""The license and the citation file: present, valid and of this version."""
import datetime
import os
import pathlib

import yaml

SOURCE = pathlib.Path(os.environ["SLIPVEL_SOURCE_DIR"])


def test_license_is_bsd_3_clause_of_the_authors():
    text = (SOURCE / "LICENSE").read_text()
    assert text.startswith("BSD 3-Clause License\n")
    assert "Copyright (c) 2026, the slipvel authors" in text
    assert "Neither the name of the copyright holder" in text


def test_citation_file_is_valid_cff_of_this_version():
    cff = yaml.safe_load((SOURCE / "CITATION.cff").read_text())
    assert cff["cff-version"] == "1.2.0"
    for key in ("message", "title", "authors"):  # required by CFF 1.2.0
        assert cff[key], key
    assert all("name" in a or "family-names" in a for a in cff["authors"])
    assert str(cff["version"]) == os.environ["SLIPVEL_VERSION"]
    assert isinstance(cff["date-released"], datetime.date)
    assert cff["license"] == "BSD-3-Clause"
    assert not {"repository", "repository-code", "url"} & cff.keys()
