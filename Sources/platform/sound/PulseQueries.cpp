#include "platform/sound/PulseQueries.h"

#include "platform/sound/PulseProperties.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>

#include <type_traits>

namespace zivra::platform::sound::pulse {
namespace {

// What a request's callbacks fill in, and the loop they wake.
template <typename Result> struct Request {
    PulseLoop* loop;
    Result result{};
    bool failed = false;
};

SinkRecord toRecord(const pa_sink_info& sink) {
    SinkRecord record;
    record.info.index = sink.index;
    record.info.name = sink.name ? sink.name : "";
    record.info.description = sink.description ? sink.description : "";
    record.info.outputChannels = sink.sample_spec.channels;
    record.format.sampleRate = sink.sample_spec.rate;
    record.format.channels = sink.sample_spec.channels;
    record.ownerModule = sink.owner_module;
    record.tapOwner = TapOwner::ofSink(sink.proplist);
    record.tapIdentity = TapIdentity::ofSink(sink.proplist);
    return record;
}

template <typename Result> void onSink(pa_context*, const pa_sink_info* sink, int eol, void* data) {
    auto* request = static_cast<Request<Result>*>(data);
    if (eol < 0) {
        request->failed = true;
    }
    if (sink) {
        if constexpr (std::is_same_v<Result, std::vector<SinkRecord>>) {
            request->result.push_back(toRecord(*sink));
        } else {
            request->result = toRecord(*sink);
        }
    }
    if (eol != 0) {
        request->loop->signal();
    }
}

void onSuccess(pa_context* context, int success, void* data) {
    auto* request = static_cast<Request<int>*>(data);
    request->result = success ? 0 : pa_context_errno(context);
    request->loop->signal();
}

// A list whose callback is called per item and once more at its end.
template <typename Item, typename Info, Item (*convert)(const Info&)>
void onListItem(pa_context*, const Info* info, int eol, void* data) {
    auto* request = static_cast<Request<std::vector<Item>>*>(data);
    if (eol < 0) {
        request->failed = true;
    }
    if (info) {
        request->result.push_back(convert(*info));
    }
    if (eol != 0) {
        request->loop->signal();
    }
}

ModuleRecord toModuleRecord(const pa_module_info& module) {
    return {module.index, module.name ? module.name : "", module.argument ? module.argument : ""};
}

SinkInputRecord toInputRecord(const pa_sink_input_info& input) {
    return pulse::toRecord(input);
}

template <typename Item>
std::optional<std::vector<Item>> awaitList(PulseLoop& loop, Request<std::vector<Item>>& request,
                                           pa_operation* op) {
    if (!op || !loop.await(op) || request.failed) {
        return std::nullopt;
    }
    return std::move(request.result);
}

int awaitSuccess(PulseLoop& loop, Request<int>& request, pa_operation* op) {
    if (!op) {
        return loop.lastError();
    }
    return loop.await(op) ? request.result : PA_ERR_TIMEOUT;
}

} // namespace

SinkInputRecord toRecord(const pa_sink_input_info& input) {
    SinkInputRecord record;
    record.index = input.index;
    record.sink = input.sink;
    record.processId = processIdOf(input.proplist);
    if (const char* target = pa_proplist_gets(input.proplist, "target.object")) {
        record.target = target;
    }
    // A program's stream has a client (on PulseAudio also an owner module: the
    // protocol's). The streams of the server's modules have an owner module and
    // no client; PipeWire's own filters and loopbacks, echo cancelling among
    // them, name neither, but link their two ends in a group.
    record.ofTheServer =
        (input.owner_module != PA_INVALID_INDEX && input.client == PA_INVALID_INDEX) ||
        pa_proplist_contains(input.proplist, "node.link-group") == 1;
    return record;
}

std::optional<std::vector<SinkRecord>> listSinks(PulseLoop& loop) {
    Request<std::vector<SinkRecord>> request{&loop};
    return awaitList(
        loop, request,
        pa_context_get_sink_info_list(loop.context(), &onSink<std::vector<SinkRecord>>, &request));
}

std::optional<SinkRecord> sinkByIndex(PulseLoop& loop, std::uint32_t index) {
    Request<std::optional<SinkRecord>> request{&loop};
    loop.await(pa_context_get_sink_info_by_index(loop.context(), index,
                                                 &onSink<std::optional<SinkRecord>>, &request));
    return request.result;
}

std::optional<SinkRecord> sinkByName(PulseLoop& loop, const std::string& name) {
    Request<std::optional<SinkRecord>> request{&loop};
    loop.await(pa_context_get_sink_info_by_name(loop.context(), name.c_str(),
                                                &onSink<std::optional<SinkRecord>>, &request));
    return request.result;
}

std::optional<std::string> defaultSinkName(PulseLoop& loop) {
    Request<std::optional<std::string>> request{&loop};
    auto onServer = [](pa_context*, const pa_server_info* info, void* data) {
        auto* request = static_cast<Request<std::optional<std::string>>*>(data);
        if (info && info->default_sink_name && *info->default_sink_name) {
            request->result = info->default_sink_name;
        }
        request->loop->signal();
    };
    loop.await(pa_context_get_server_info(loop.context(), onServer, &request));
    return request.result;
}

std::optional<std::vector<SinkInputRecord>> listSinkInputs(PulseLoop& loop) {
    Request<std::vector<SinkInputRecord>> request{&loop};
    return awaitList(loop, request,
                     pa_context_get_sink_input_info_list(
                         loop.context(),
                         &onListItem<SinkInputRecord, pa_sink_input_info, &toInputRecord>,
                         &request));
}

std::optional<std::vector<ModuleRecord>> listModules(PulseLoop& loop) {
    Request<std::vector<ModuleRecord>> request{&loop};
    return awaitList(
        loop, request,
        pa_context_get_module_info_list(
            loop.context(), &onListItem<ModuleRecord, pa_module_info, &toModuleRecord>, &request));
}

int setDefaultSink(PulseLoop& loop, const std::string& name) {
    if (loop.awaitsAnswer()) {
        return PA_ERR_TIMEOUT;
    }
    Request<int> request{&loop};
    return awaitSuccess(
        loop, request,
        pa_context_set_default_sink(loop.context(), name.c_str(), &onSuccess, &request));
}

int loadModule(PulseLoop& loop, const std::string& name, const std::string& argument,
               std::uint32_t& index) {
    if (loop.awaitsAnswer()) {
        return PA_ERR_TIMEOUT;
    }
    Request<std::uint32_t> request{&loop, PA_INVALID_INDEX};
    auto onLoaded = [](pa_context*, std::uint32_t index, void* data) {
        auto* request = static_cast<Request<std::uint32_t>*>(data);
        request->result = index;
        request->loop->signal();
    };
    pa_operation* op =
        pa_context_load_module(loop.context(), name.c_str(), argument.c_str(), onLoaded, &request);
    if (!op) {
        return loop.lastError();
    }
    if (!loop.await(op)) {
        return PA_ERR_TIMEOUT;
    }
    if (request.result == PA_INVALID_INDEX) {
        return loop.lastError() ? loop.lastError() : PA_ERR_MODINITFAILED;
    }
    index = request.result;
    return 0;
}

int unloadModule(PulseLoop& loop, std::uint32_t index) {
    if (loop.awaitsAnswer()) {
        return PA_ERR_TIMEOUT;
    }
    Request<int> request{&loop};
    return awaitSuccess(loop, request,
                        pa_context_unload_module(loop.context(), index, &onSuccess, &request));
}

int moveSinkInput(PulseLoop& loop, std::uint32_t input, const std::string& sink) {
    if (loop.awaitsAnswer()) {
        return PA_ERR_TIMEOUT;
    }
    Request<int> request{&loop};
    return awaitSuccess(loop, request,
                        pa_context_move_sink_input_by_name(loop.context(), input, sink.c_str(),
                                                           &onSuccess, &request));
}

} // namespace zivra::platform::sound::pulse
