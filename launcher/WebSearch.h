// The addresses of the two web searches for a game's name.
#pragma once

#include <string>

enum class SearchSite {
  DosBoxCompatibility,  // the DOSBox project's compatibility list
  WebSearch,            // a web search engine
};

// The address that searches name (UTF-8) on site. Blanks become "+" for the
// compatibility list and stay blanks for the search engine; every byte that
// would change the address's meaning ("%", "&", "#", "+", "?", "=", quotes,
// control characters, every byte of a non-ASCII character...) is
// percent-encoded, so the site searches exactly the name.
std::string SearchAddress(SearchSite site, const std::string& name);
