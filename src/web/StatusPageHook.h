#pragma once

#include <QString>

#include <functional>

class Request;
class Response;

// The seam through which the status page joins the server. Every request
// whose path begins with "/stat" is answered with the text StatusPage
// returns, sent as an HTML page (unless the security gate refused the page
// already, see Headers::CheckAccess).
//
// The status page registers its builder once at start-up:
//
//     SetStatusPageBuilder([](Request &request, Response &response) {
//         Headers::RunPageSetup(request, response);    // settings, security, touch screen
//         if (!Headers::CheckAccess(headerParameters)) // refused: a 403 went out
//             return QString();
//         ... carry out a posted form, build the page with
//             CustomHeader(headerParameters) and HTMLFormatCell(...) ...
//         return pageText;
//     });
//
// Without a builder (or after SetStatusPageBuilder({})), the page is the
// chrome around an empty body.
using StatusPageBuilder = std::function<QString(Request &request, Response &response)>;
void SetStatusPageBuilder(StatusPageBuilder builder);

// The status page text for one request: the registered builder's, or the
// empty chrome page. An exception from the builder is logged ("StatusPage: ")
// and gives an empty text.
QString StatusPage(Request &request, Response &response);

// The empty chrome page the server answers with until a builder is registered.
QString EmptyStatusPage(Request &request, Response &response);
