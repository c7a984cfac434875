// What zeb view answers: the page's files and the JSON API over the channel workers. Every path and
// status is documented in the README's API section.
#pragma once

#include "view/ChannelWorker.h"
#include "view/ClientRegistry.h"
#include "view/RequestPolicy.h"
#include "view/http/HttpServer.h"

#include <string>
#include <vector>

namespace zeb::view {

class SurfaceApi;

class ViewerApi {
public:
    struct Options {
        // Bound to a loopback address: requests must name this machine in their Host header, so that
        // a web page elsewhere cannot reach the server through a name of its own (DNS rebinding).
        bool loopbackOnly = true;
        int32_t longestWaitMs = 5000;   // longest wait a status request may ask for
        SurfaceApi* surfaces = nullptr; // the surface's paths, when served
    };

    ViewerApi(std::vector<ChannelWorker*> workers, ClientRegistry& clients, Options options);

    HttpResponse Handle(const HttpRequest& request);

private:
    HttpResponse Route(const HttpRequest& request, const std::vector<std::string>& parts,
                       const std::string& client);
    HttpResponse ChannelList();
    HttpResponse Channel(ChannelWorker& worker, const HttpRequest& request,
                         const std::vector<std::string>& parts, const std::string& client);
    HttpResponse Features(ChannelWorker& worker);
    HttpResponse Feature(ChannelWorker& worker, const HttpRequest& request, const std::string& name);
    HttpResponse Command(ChannelWorker& worker, const std::string& name);
    HttpResponse Image(ChannelWorker& worker, const HttpRequest& request);
    HttpResponse Status(ChannelWorker& worker, const HttpRequest& request);
    HttpResponse Assistant(ChannelWorker& worker);
    HttpResponse StartAssistant(ChannelWorker& worker, const std::string& typed, const std::string& client);
    HttpResponse Save(ChannelWorker& worker);
    HttpResponse Profile(ChannelWorker& worker, const HttpRequest& request);
    HttpResponse Recording(ChannelWorker& worker, const HttpRequest& request, const std::string& what);

    std::vector<ChannelWorker*> _workers;
    ClientRegistry& _clients;
    Options _options;
    RequestPolicy _policy;
};

} // namespace zeb::view
