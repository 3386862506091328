#pragma once

#include <cstddef>
#include <cstdint>

// The QX5200's USB HID protocol, as both ends of the link use it: the product string that
// identifies the device, the report sizes, the command codes and the reply layouts. The driver
// speaks it; the firmware model in sim/ answers it. No Qt here: the model is built without it.
namespace qx5200_protocol {

// The device is recognised by this HID product string alone.
inline constexpr char product_string[] = "QUOR LABS QX5200";

// --- Reports --------------------------------------------------------------------------------
// The device has no numbered reports. Its output report is the command code and 60 data bytes;
// the program writes it with report ID 0 in front, 62 bytes in all. Its input report is 64
// data bytes, handed over with the report ID 0 in front.
inline constexpr std::uint8_t report_id = 0;
inline constexpr std::size_t command_data_size = 60;
inline constexpr std::size_t output_report_size = 1 + command_data_size; // as the descriptor has it
inline constexpr std::size_t output_report_written = 1 + output_report_size;
inline constexpr std::size_t output_command_at = 1; // in the report as written
inline constexpr std::size_t output_data_at = 2;
inline constexpr std::size_t input_report_size = 64;
// The data bytes of a reply the driver keeps: the longest reply it reads (the record) ends at 47.
inline constexpr std::size_t reply_bytes_used = 49;

// --- Commands -------------------------------------------------------------------------------
enum command : std::uint8_t {
  cmd_upload_begin = 1,
  cmd_upload_prepare = 2,
  cmd_upload_end = 3,
  cmd_usb_voltage = 6,
  cmd_serial_number = 8,
  cmd_run_state = 10,
  cmd_revision = 11,
  cmd_dac_code = 20,
  cmd_dac_offset = 22,
  cmd_upload_index = 23,
  cmd_upload_block = 24,
  cmd_stop = 27,
  cmd_write_fs_dac_code = 28,
  cmd_read_fs_dac_code = 30,
  cmd_start = 33,
  cmd_status = 34,
  cmd_read_record = 35,
  cmd_write_record = 36,
  cmd_adc_offset = 37,
  cmd_temperature_limit = 39,
  cmd_adc_gain = 40,
  cmd_zero_code = 48,
  cmd_return_to_zero = 49,
};

// Words per upload block (command 24): 60 data bytes.
inline constexpr int block_words = int(command_data_size / 2);

// --- Replies (offsets into the input report's data bytes) -----------------------------------
// Byte 0 echoes the command, except for the run-state query, which answers there.
inline constexpr int reply_run_state_at = 0;
inline constexpr std::uint8_t run_state_running = 0; // any other value: not running
inline constexpr std::uint8_t run_state_idle = 1;
// Every other reply the driver reads starts at byte 1.
inline constexpr int reply_data_at = 1;
// Status (command 34): the board state, then the temperature and sensor ADC codes as words.
inline constexpr int status_board_state_at = 1;
inline constexpr int status_temperature_at = 2;
inline constexpr int status_sensor_at = 4;

// Board states in the status reply. State 2 leaves the board flags as they are; a value above 3
// is never sent and marks a garbled reply.
enum board_state : std::uint8_t {
  board_absent = 0,
  board_present = 1,
  board_keep_flags = 2,
  board_over_temperature = 3,
};

// --- The load board record (commands 35 and 36), as its EEPROM holds it ---------------------
// Name (7 bytes, zero bytes skipped), units, seven IEEE singles, sensor units, return-to-zero
// flag, two more singles, the maximum value's low byte.
inline constexpr int record_size = 47;
inline constexpr int record_name_size = 7;
inline constexpr int record_units_at = 7;
inline constexpr int record_gain_at = 8;
inline constexpr int record_sensor_gain_at = 12;
inline constexpr int record_max_temp_at = 16;
inline constexpr int record_max_power_at = 20;
inline constexpr int record_max_p2t_at = 24;
inline constexpr int record_offset_at = 28;
inline constexpr int record_sensor_offset_at = 32;
inline constexpr int record_sensor_units_at = 36;
inline constexpr int record_return_to_zero_at = 37;
inline constexpr int record_sensor_max_at = 38;
inline constexpr int record_monitor_gain_at = 42;
inline constexpr int record_max_value_at = 46;

static_assert(record_max_value_at + 1 == record_size);
static_assert(std::size_t(reply_data_at + record_size) <= reply_bytes_used);
static_assert(reply_bytes_used <= input_report_size);

} // namespace qx5200_protocol
