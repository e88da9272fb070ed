#include "host/EventClass.h"

namespace {
const FieldSpec kFields[] = {
    {"Enabled", Variant::Boolean},
    {"delete", Variant::Boolean},
    {"dtmf", Variant::String},
    {"eprom_address", Variant::String},
    {"ev_abs_time", Variant::Integer},
    {"ev_app_path", Variant::String},
    {"ev_conditions", Variant::Object},
    {"ev_date", Variant::String},
    {"ev_days", Variant::Integer},
    {"ev_devices", Variant::Object},
    {"ev_dimpercent", Variant::Integer},
    {"ev_dimto", Variant::Boolean},
    {"ev_func", Variant::Integer},
    {"ev_hc", Variant::String},
    {"ev_mail_message", Variant::String},
    {"ev_mail_subj", Variant::String},
    {"ev_mail_to", Variant::String},
    {"ev_offset", Variant::String},
    {"ev_offset_before", Variant::Boolean},
    {"ev_time", Variant::String},
    {"ev_trig_dc", Variant::String},
    {"ev_trig_func", Variant::Integer},
    {"ev_trig_hc", Variant::String},
    {"ev_wav_path", Variant::String},
    {"events", Variant::String},
    {"group", Variant::String},
    {"handled", Variant::Integer},
    {"IR", Variant::String},
    {"irmatch", Variant::Integer},
    {"last_trigger_time", Variant::Date},
    {"last_trigger_time_valid", Variant::Boolean},
    {"mail_attach_path", Variant::String},
    {"misc", Variant::Long},
    {"misc_actions", Variant::String},
    {"misc2", Variant::Long},
    {"name", Variant::String},
    {"order", Variant::Integer},
    {"phone_actions", Variant::String},
    {"phone_event", Variant::Integer},
    {"phone_line", Variant::Integer},
    {"pi_actions", Variant::String},
    {"pi_trig_name", Variant::String},
    {"pi_trigger", Variant::String},
    {"popfrom", Variant::String},
    {"rec_last", Variant::Date},
    {"rec_mins", Variant::Integer},
    {"rec_secs", Variant::Integer},
    {"rec_secs_tmp", Variant::Integer},
    {"relay", Variant::String},
    {"scripts", Variant::String},
    {"sec_action", Variant::String},
    {"sec_trigger", Variant::String},
    {"security_offset", Variant::Integer},
    {"source_line", Variant::Integer},
    {"speak_after_script", Variant::String},
    {"speak_before_script", Variant::String},
    {"speak_device", Variant::Integer},
    {"speech", Variant::String},
    {"Tag", Variant::Empty},
    {"time_handled", Variant::Boolean},
    {"vcmd", Variant::String},
};
} // namespace

EventClass::EventClass()
    : FieldRecord(kFields)
{
}

std::span<const FieldSpec> EventClass::fieldSpecs()
{
    return kFields;
}

void EventClass::describe(DispatchTable<EventClass> &t)
{
    t.name(QStringLiteral("EventClass"));
    describeFields(t);
}
