#pragma once

#include "host/FieldRecord.h"

// One event of the host's event list. Events carry data only: nothing schedules or runs them.
class EventClass : public PlainRecord<EventClass>
{
public:
    static constexpr const char *kClassName = "EventClass";
    enum Field {
        F_Enabled,
        F_delete,
        F_dtmf,
        F_eprom_address,
        F_ev_abs_time,
        F_ev_app_path,
        F_ev_conditions,
        F_ev_date,
        F_ev_days,
        F_ev_devices,
        F_ev_dimpercent,
        F_ev_dimto,
        F_ev_func,
        F_ev_hc,
        F_ev_mail_message,
        F_ev_mail_subj,
        F_ev_mail_to,
        F_ev_offset,
        F_ev_offset_before,
        F_ev_time,
        F_ev_trig_dc,
        F_ev_trig_func,
        F_ev_trig_hc,
        F_ev_wav_path,
        F_events,
        F_group,
        F_handled,
        F_IR,
        F_irmatch,
        F_last_trigger_time,
        F_last_trigger_time_valid,
        F_mail_attach_path,
        F_misc,
        F_misc_actions,
        F_misc2,
        F_name,
        F_order,
        F_phone_actions,
        F_phone_event,
        F_phone_line,
        F_pi_actions,
        F_pi_trig_name,
        F_pi_trigger,
        F_popfrom,
        F_rec_last,
        F_rec_mins,
        F_rec_secs,
        F_rec_secs_tmp,
        F_relay,
        F_scripts,
        F_sec_action,
        F_sec_trigger,
        F_security_offset,
        F_source_line,
        F_speak_after_script,
        F_speak_before_script,
        F_speak_device,
        F_speech,
        F_Tag,
        F_time_handled,
        F_vcmd
    };

    static std::span<const FieldSpec> fieldSpecs();
};

using EventClassPtr = std::shared_ptr<EventClass>;
