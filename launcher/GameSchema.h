// The game vocabulary shared by vtl.xml and defrc.xml: the category list,
// the lookups that fill in what an entry lacks, the template entry and the
// ".vtl" link files.
#pragma once

#include <string>

#include "xml/Xml.h"

constexpr int kCategoryCount = 11;
// The list groups use the position as their identifier.
extern const char* const CategoryList[kCategoryCount];

// The position of the category whose name equals name without regard to
// case; 0 ("No Category") for any other name, the empty one included.
int CategoryIndex(const char* name);

// The first child element called name; an empty one is appended when there is
// none, so reading an entry also completes it.
XmlElement* Section(XmlElement* element, const char* name);

// The plain value of the attribute called name; an empty attribute is
// appended when there is none.
std::string AttributeText(XmlElement* element, const char* name);
void SetAttributeText(XmlElement* element, const char* name, const char* plainValue);

// "Games" under the document's root (created when missing); null when the
// document has no root.
XmlElement* GamesOf(const XmlDocument& document);

// The template of new games: the first "g" under "Games" of the default
// profile (created when missing); null when the document has no root.
XmlElement* TemplateEntry(const XmlDocument& profile);

// The raw text of the element's first CDATA section, or null when it has
// none. Command texts are used verbatim, line breaks and trailing blanks
// included.
const char* FirstCDataText(const XmlElement* element);

// The game named by a ".vtl" link file: its root's attribute "n" (empty when
// the root has none). False, with name untouched, when the file cannot be
// read as an XML document.
bool ReadGameLinkName(const std::string& path, std::string& name);

// A mount's host path without the double quotes a user may have put around
// it (DOSBox needs them for blanks; the file system does not want them).
std::string Unquoted(const std::string& path);

// Whether a and b are equal without regard to ASCII case.
bool EqualIgnoringCase(const char* a, const char* b);
