#pragma once

// libxml2's tree types, declared as its own headers declare them: the headers of this
// layer hand nodes around without including libxml2, which only the layer's sources and
// the code that walks a tree itself include.
// NOLINTBEGIN(bugprone-reserved-identifier)
struct _xmlAttr;
struct _xmlDoc;
struct _xmlNode;
// NOLINTEND(bugprone-reserved-identifier)
using xmlAttr = _xmlAttr;
using xmlDoc = _xmlDoc;
using xmlNode = _xmlNode;
